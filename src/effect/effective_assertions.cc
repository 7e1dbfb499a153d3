#include "effect/effective_assertions.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "construct/engine_reads.h"
#include "construct/identity_set.h"
#include "construct/keyed_hash.h"
#include "effect/first_later.h"
#include "literal/certainty.h"

namespace brackwater::effect {

using construct::EngineError;
using construct::fail;
using construct::Identity;
using construct::IdentitySet;
using construct::PositRef;
using construct::Result;
using literal::TimeValue;

// Counts `units` of work on the statement's budget, returning its stop check's error (cancelled,
// then timed out) from the enclosing function.
#define BW_WORK(budget, units)                                                           \
  do {                                                                                   \
    if (auto stop_ = (budget).work(units); !stop_) return fail(std::move(stop_.error())); \
  } while (0)

namespace {

// The shared count of temporal comparisons of the retraction and latest passes.
class ComparisonBudget {
 public:
  explicit ComparisonBudget(uint64_t max) : max_(max) {}

  // Charges `n` comparisons. One at a time, each fails when the counter already holds `max`
  // (`ResourceLimit`), or the largest u64, which is checked first (`Internal`); charging n at once
  // fails exactly when one of those n would.
  Result<void> charge(uint64_t n) {
    if (n <= max_ - used_) {
      used_ += n;
      return {};
    }
    if (max_ == std::numeric_limits<uint64_t>::max()) {
      return fail(EngineError::internal("effect comparison count overflowed"));
    }
    return fail(EngineError::resource_limit("effective temporal comparisons", max_));
  }

 private:
  uint64_t used_ = 0;
  uint64_t max_;
};

std::string malformed_assertion(Identity assertion) {
  return "malformed assertion posit " + std::to_string(assertion) +
         ": exact {posit, ascertains} envelopes require a certainty literal";
}

// The candidates: the Posits bound in both Role "posit" and Role "ascertains".
Result<IdentitySet> candidate_identities(construct::Engine& engine) {
  auto posits = construct::reads::role_posits(engine, construct::kPositRoleId);
  if (!posits) return fail(std::move(posits.error()));
  auto sources = construct::reads::role_posits(engine, construct::kAscertainsRoleId);
  if (!sources) return fail(std::move(sources.error()));
  if (*posits == nullptr || *sources == nullptr) return IdentitySet();
  return **posits & **sources;
}

// The collection: the envelopes within the cutoffs, 0% ones included, in ascending assertion identity.
Result<std::vector<EffectiveAssertion>> collect(construct::Engine& engine, const IdentitySet& candidates,
                                                const EffectCutoffs& cutoffs, construct::Budget& budget) {
  std::vector<EffectiveAssertion> out;
  auto read = construct::reads::with_posit_lookup(engine, [&](const construct::reads::PositLookup& posits) -> Result<void> {
    for (const Identity id : candidates) {
      BW_WORK(budget, 1);
      const PositRef posit = posits.find(id);
      if (posit == nullptr) {
        return fail(EngineError::internal("assertion index contains identity " + std::to_string(id) +
                                          " without a literal posit"));
      }
      const auto& members = posit->appearance_set->members;
      if (members.size() != 2 || members[0]->role->identity != construct::kPositRoleId ||
          members[1]->role->identity != construct::kAscertainsRoleId) {
        continue;
      }
      if (!TimeValue::is_at_or_before(posit->appearance_time, cutoffs.assertion_cutoff)) continue;
      if (posit->value.kind != literal::LiteralKind::Certainty) {
        return fail(EngineError::execution(malformed_assertion(id)));
      }
      const auto certainty = literal::parse_certainty(posit->value.text);
      if (!certainty) return fail(EngineError::internal(certainty.error()));
      const Identity target_id = members[0]->thing;
      const PositRef target = posits.find(target_id);
      if (target == nullptr) {
        return fail(EngineError::execution("dangling assertion posit " + std::to_string(id) + ": target posit " +
                                           std::to_string(target_id) + " does not exist"));
      }
      if (!TimeValue::is_at_or_before(target->appearance_time, cutoffs.appearance_cutoff)) continue;
      out.push_back(EffectiveAssertion{posit, target, members[1]->thing, *certainty});
    }
    return {};
  });
  if (!read) return fail(std::move(read.error()));
  return out;
}

// Numbers keys by first appearance: `id_of(key)` gives the key's group number.
template <class Key, class Hash, class Eq>
class GroupNumbers {
 public:
  uint32_t id_of(const Key& key) {
    auto [it, added] = ids_.try_emplace(key, static_cast<uint32_t>(ids_.size()));
    (void)added;
    return it->second;
  }
  // The key's group number when it has one.
  std::optional<uint32_t> find(const Key& key) const {
    auto it = ids_.find(key);
    if (it == ids_.end()) return std::nullopt;
    return it->second;
  }
  uint32_t count() const { return static_cast<uint32_t>(ids_.size()); }
  void reserve(size_t n) { ids_.reserve(n); }

 private:
  std::unordered_map<Key, uint32_t, Hash, Eq> ids_;
};

// Positions in the collected list, split into groups, each in list order.
struct Groups {
  std::vector<uint32_t> offsets;  // group g is members[offsets[g] .. offsets[g + 1])
  std::vector<uint32_t> members;

  size_t count() const { return offsets.size() - 1; }
  std::span<const uint32_t> group(size_t g) const {
    return std::span<const uint32_t>(members).subspan(offsets[g], offsets[g + 1] - offsets[g]);
  }
};

// Stable bucketing of `positions` by `group_of[k]` (the group of positions[k]).
Groups bucket(const std::vector<uint32_t>& positions, const std::vector<uint32_t>& group_of, uint32_t group_count) {
  Groups g;
  g.offsets.assign(group_count + 1, 0);
  for (const uint32_t id : group_of) ++g.offsets[id + 1];
  for (uint32_t i = 0; i < group_count; ++i) g.offsets[i + 1] += g.offsets[i];
  g.members.resize(positions.size());
  std::vector<uint32_t> next(g.offsets.begin(), g.offsets.end() - 1);
  for (size_t k = 0; k < positions.size(); ++k) g.members[next[group_of[k]]++] = positions[k];
  return g;
}

struct PairKey {
  uint64_t a, b;
  bool operator==(const PairKey&) const = default;
};
struct PairKeyHash {
  size_t operator()(const PairKey& k) const {
    construct::KeyedHasher h;
    h.write_u64(k.a);
    h.write_u64(k.b);
    return static_cast<size_t>(h.finish());
  }
};

// (source, target's Appearance set), the set compared by its members.
struct SetKey {
  Identity source;
  construct::AppearanceSetRef set;
};
struct SetKeyHash {
  size_t operator()(const SetKey& k) const {
    construct::KeyedHasher h;
    h.write_u64(k.source);
    h.write_u64(k.set->members.size());
    for (const construct::AppearanceRef m : k.set->members) {
      h.write_u64(m->thing);
      h.write_u64(m->role->identity);
    }
    return static_cast<size_t>(h.finish());
  }
};
struct SetKeyEq {
  bool operator()(const SetKey& x, const SetKey& y) const {
    return x.source == y.source && construct::appearance_list_eq(*x.set, *y.set);
  }
};

// (appearance group, target's value text bytes): the value group of a record.
struct TextKey {
  uint32_t appearance_group;
  std::string_view text;
  bool operator==(const TextKey&) const = default;
};
struct TextKeyHash {
  size_t operator()(const TextKey& k) const {
    construct::KeyedHasher h;
    h.write_u64(k.appearance_group);
    h.write(k.text);
    h.write_u8(0xFF);
    return static_cast<size_t>(h.finish());
  }
};

// The retractions: the non-zero records that no 0% record of the same source and target, made strictly
// later, withdraws; in list order. Each record scans the retractions of its pair in list order and
// stops at the first later one.
Result<std::vector<uint32_t>> apply_retractions(const std::vector<EffectiveAssertion>& list, ComparisonBudget& comparisons,
                                                construct::Budget& budget) {
  GroupNumbers<PairKey, PairKeyHash, std::equal_to<>> numbers;
  std::vector<uint32_t> retractions;
  std::vector<uint32_t> group_of;
  numbers.reserve(list.size() / 4);
  for (uint32_t p = 0; p < list.size(); ++p) {
    BW_WORK(budget, 1);
    if (list[p].certainty != 0) continue;
    retractions.push_back(p);
    group_of.push_back(numbers.id_of(PairKey{list[p].source, list[p].target->identity}));
  }
  const Groups groups = bucket(retractions, group_of, numbers.count());
  FirstLater scans;
  scans.reserve(retractions.size(), groups.count());
  for (size_t g = 0; g < groups.count(); ++g) {
    scans.start_sequence();
    for (const uint32_t p : groups.group(g)) scans.push(list[p].assertion->appearance_time);
  }

  std::vector<uint32_t> survivors;
  for (uint32_t p = 0; p < list.size(); ++p) {
    if (list[p].certainty == 0) continue;
    BW_WORK(budget, 1);
    const auto g = groups.count() == 0 ? std::nullopt : numbers.find(PairKey{list[p].source, list[p].target->identity});
    if (!g) {
      survivors.push_back(p);
      continue;
    }
    const auto first = scans.find(*g, list[p].assertion->appearance_time);
    if (auto charged = comparisons.charge(first ? *first + 1 : scans.size(*g)); !charged) {
      return fail(std::move(charged.error()));
    }
    if (!first) survivors.push_back(p);
  }
  return survivors;
}

// The latest times (of targets, then of assertions): within each group, drops the records that another record of the group (dropped
// or not) beats by a strictly later time; `time_of(p)` is the compared time of list position p.
// Returns the kept positions in list order.
template <class TimeOf>
Result<std::vector<uint32_t>> keep_latest(const std::vector<uint32_t>& positions, const Groups& groups, size_t list_size,
                                          TimeOf time_of, ComparisonBudget& comparisons, construct::Budget& budget) {
  std::vector<char> kept(list_size, 0);
  FirstLater scan;
  for (size_t g = 0; g < groups.count(); ++g) {
    BW_WORK(budget, 1);
    const auto group = groups.group(g);
    scan.clear();
    scan.start_sequence();
    for (const uint32_t p : group) scan.push(time_of(p));
    for (size_t i = 0; i < group.size(); ++i) {
      BW_WORK(budget, 1);
      const auto first = scan.find(0, time_of(group[i]));
      if (auto charged = comparisons.charge(scan.scan_cost(0, i, first)); !charged) return fail(std::move(charged.error()));
      if (!first) kept[group[i]] = 1;
    }
  }
  std::vector<uint32_t> out;
  for (const uint32_t p : positions) {
    if (kept[p]) out.push_back(p);
  }
  return out;
}

}  // namespace

Result<EffectiveAssertions> compute_effective_assertions(construct::Engine& engine, const EffectCutoffs& cutoffs,
                                                         uint64_t max_candidates, uint64_t max_comparisons,
                                                         construct::Budget& budget) {
  if (auto stop = budget.check_stop(); !stop) return fail(std::move(stop.error()));
  auto candidates = candidate_identities(engine);
  if (!candidates) return fail(std::move(candidates.error()));
  if (candidates->cardinality() > max_candidates) {
    return fail(EngineError::resource_limit("effective assertion candidates", max_candidates));
  }
  // The collected list and the result, each at most one record per candidate.
  construct::Charge working(&budget);
  if (auto r = working.hold(construct::bytes_for(candidates->cardinality(), 2 * sizeof(EffectiveAssertion))); !r) {
    return fail(std::move(r.error()));
  }
  auto collected = collect(engine, *candidates, cutoffs, budget);
  if (!collected) return fail(std::move(collected.error()));
  const std::vector<EffectiveAssertion>& list = *collected;

  ComparisonBudget comparisons(max_comparisons);
  auto survivors = apply_retractions(list, comparisons, budget);
  if (!survivors) return fail(std::move(survivors.error()));

  // Latest target appearance time per (source, target set).
  GroupNumbers<SetKey, SetKeyHash, SetKeyEq> set_numbers;
  std::vector<uint32_t> set_group(list.size(), 0);
  std::vector<uint32_t> group_of;
  group_of.reserve(survivors->size());
  set_numbers.reserve(survivors->size());
  for (const uint32_t p : *survivors) {
    BW_WORK(budget, 1);
    set_group[p] = set_numbers.id_of(SetKey{list[p].source, list[p].target->appearance_set});
    group_of.push_back(set_group[p]);
  }
  auto latest_targets =
      keep_latest(*survivors, bucket(*survivors, group_of, set_numbers.count()), list.size(),
                  [&](uint32_t p) -> const TimeValue& { return list[p].target->appearance_time; }, comparisons, budget);
  if (!latest_targets) return fail(std::move(latest_targets.error()));

  // Latest assertion time per (source, target set, target value text).
  GroupNumbers<TextKey, TextKeyHash, std::equal_to<>> text_numbers;
  group_of.clear();
  text_numbers.reserve(latest_targets->size());
  for (const uint32_t p : *latest_targets) {
    BW_WORK(budget, construct::work_for_bytes(list[p].target->value.text.size()));
    group_of.push_back(text_numbers.id_of(TextKey{set_group[p], list[p].target->value.text}));
  }
  auto latest_assertions =
      keep_latest(*latest_targets, bucket(*latest_targets, group_of, text_numbers.count()), list.size(),
                  [&](uint32_t p) -> const TimeValue& { return list[p].assertion->appearance_time; }, comparisons, budget);
  if (!latest_assertions) return fail(std::move(latest_assertions.error()));

  BW_WORK(budget, 1);
  std::vector<EffectiveAssertion> out;
  out.reserve(latest_assertions->size());
  for (const uint32_t p : *latest_assertions) out.push_back(list[p]);
  std::sort(out.begin(), out.end(), [](const EffectiveAssertion& a, const EffectiveAssertion& b) {
    return construct::posit_record_less(*a.assertion, *a.target, a.source, *b.assertion, *b.target, b.source);
  });
  BW_WORK(budget, 1);
  return std::make_shared<const std::vector<EffectiveAssertion>>(std::move(out));
}

}  // namespace brackwater::effect
