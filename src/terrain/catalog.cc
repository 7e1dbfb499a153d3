#include "terrain/catalog.h"

#include <algorithm>
#include <span>
#include <vector>

#include "terrain/ids.h"
#include "terrain/ordering.h"
#include "terrain/role_numbers.h"

namespace brackwater::terrain {

namespace {

struct SignatureKey {
  uint64_t current = 0;
  uint64_t history = 0;
  std::span<const uint64_t> roles;
  size_t first_rank = 0;  // position of the signature's name ranks in the shared rank list
};

// The Roles of the signatures, numbered as they are first met, and the rank of each one's name: one
// rank for every Role without a name, then one per distinct name in byte order, so that comparing
// ranks compares names as compare_role_names does.
class NameRanks {
 public:
  explicit NameRanks(const RoleNames& names) : names_(names) {}

  uint32_t number(uint64_t role) {
    bool is_new = false;
    const uint32_t number = numbers_.number(role, &is_new);
    if (is_new) role_names_.push_back(names_.find(role));
    return number;
  }

  // The rank of every Role numbered so far, by number.
  Result<std::vector<uint32_t>> ranks(const TerrainBudget& budget) const {
    std::vector<uint32_t> by_name(role_names_.size());
    for (uint32_t i = 0; i < by_name.size(); ++i) by_name[i] = i;
    auto name_less = [this](uint32_t a, uint32_t b) { return compare_role_names(role_names_[a], role_names_[b]) < 0; };
    if (auto sorted = sort_checked(std::span(by_name), name_less, budget); !sorted) return fail(std::move(sorted.error()));
    std::vector<uint32_t> rank(role_names_.size());
    uint32_t current = 0;
    for (size_t i = 0; i < by_name.size(); ++i) {
      if (i > 0 && name_less(by_name[i - 1], by_name[i])) ++current;
      rank[by_name[i]] = current;
    }
    return rank;
  }

 private:
  const RoleNames& names_;
  RoleNumbers numbers_;
  std::vector<const std::string*> role_names_;  // by number; nullptr: the Role has no name
};

}  // namespace

Result<RelationshipCatalog> build_relationship_catalog(const FrameStats& history, const FrameStats& current,
                                                       const RoleNames& names, uint64_t limit,
                                                       const TerrainBudget& budget) {
  // The union of both frames' signatures, joined by hash, each with its Roles numbered for naming.
  const SignatureTable& h = history.signatures;
  const SignatureTable& c = current.signatures;
  std::vector<SignatureKey> keys;
  keys.reserve(size_t{h.size()} + c.size());
  std::vector<uint32_t> ranks;  // per Role of each key: first its number, then its name's rank
  NameRanks naming(names);
  std::vector<bool> joined(c.size());
  auto add_key = [&](SignatureKey key) {
    key.first_rank = ranks.size();
    for (const uint64_t role : key.roles) ranks.push_back(naming.number(role));
    keys.push_back(key);
  };
  for (uint32_t i = 0; i < h.size(); ++i) {
    if (auto stop = budget.check_stop_periodic(i); !stop) return fail(std::move(stop.error()));
    SignatureKey key;
    key.roles = h.roles(i);
    key.history = h.set_count(i);
    if (const uint32_t j = c.find(key.roles, h.hash_of(i)); j != SignatureTable::kNone) {
      key.current = c.set_count(j);
      joined[j] = true;
    }
    add_key(key);
  }
  for (uint32_t j = 0; j < c.size(); ++j) {
    if (auto stop = budget.check_stop_periodic(j); !stop) return fail(std::move(stop.error()));
    if (!joined[j]) add_key(SignatureKey{c.set_count(j), 0, c.roles(j), 0});
  }
  auto rank_of = naming.ranks(budget);
  if (!rank_of) return fail(std::move(rank_of.error()));
  for (size_t k = 0; k < ranks.size(); ++k) {
    if (auto stop = budget.check_stop_periodic(k); !stop) return fail(std::move(stop.error()));
    ranks[k] = (*rank_of)[ranks[k]];
  }

  auto signature_order_is_less = [&ranks](const SignatureKey& a, const SignatureKey& b) {
    if (a.current != b.current) return a.current > b.current;
    if (a.history != b.history) return a.history > b.history;
    if (a.roles.size() != b.roles.size()) return a.roles.size() > b.roles.size();
    for (size_t i = 0; i < a.roles.size(); ++i) {
      const uint32_t rank_a = ranks[a.first_rank + i];
      const uint32_t rank_b = ranks[b.first_rank + i];
      if (rank_a != rank_b) return rank_a < rank_b;
    }
    return std::ranges::lexicographical_compare(a.roles, b.roles);
  };

  RelationshipCatalog out;
  out.total_signatures = keys.size();
  out.complete = keys.size() <= limit;
  if (auto picked = keep_first(keys, std::min<uint64_t>(limit, keys.size()), signature_order_is_less, budget); !picked) {
    return fail(std::move(picked.error()));
  }
  for (const SignatureKey& key : keys) {
    SignatureEntry entry{signature_id(key.roles), {}};
    for (const uint64_t role : key.roles) {
      const std::string* name = names.find(role);
      if (name == nullptr) return fail(EngineError::internal("Terrain references unknown Role " + decimal(role)));
      entry.roles.push_back(RoleReference{decimal(role), *name});
    }
    out.signatures.push_back(std::move(entry));
    out.kept.emplace_back(key.roles.begin(), key.roles.end());
  }
  if (!out.signatures.empty()) out.default_signature_id = out.signatures.front().id;
  return out;
}

}  // namespace brackwater::terrain
