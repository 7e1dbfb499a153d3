#include "velquin/add_posit.h"

#include <algorithm>
#include <string>
#include <vector>

#include "construct/interning_session.h"
#include "velquin/lower_literal.h"
#include "velquin/parameters.h"
#include "velquin/text_index.h"
#include "velquin/time_operand.h"
#include "velquin/trace.h"

namespace brackwater::velquin {

using construct::AppearanceRef;
using construct::AppearanceSetRef;
using construct::Engine;
using construct::EngineError;
using construct::fail;
using construct::PendingAssertion;
using construct::Result;
using construct::RoleRef;
using literal::Literal;
using literal::TimeValue;

namespace {

std::string rule_text(Rule rule) { return std::string(rule_name(rule)); }

// A half-open range of positions in the statement's posit or assertion list that a name binds.
struct BindingRange {
  std::string_view name;
  uint64_t start = 0;
  uint64_t end = 0;
};

constexpr size_t kInsertionSortLimit = 16;

// Repeats are counted in 32 bits: no statement gets further.
static_assert(kMaxAddPositCombinations <= UINT32_MAX);

// One appearance of a posit clause after its candidate lists are built.
struct Slot {
  uint32_t list = 0;    // index into the clause's candidate lists
  uint32_t role = 0;    // index into the clause's role names
  uint32_t copy = 0;    // the identities this slot appended (its list holds one such copy a slot)
  uint32_t stride = 0;  // combinations per step of this slot's index
};


// The Role names a statement writes: each distinct role text is normalised once, and its Role
// looked up once, when a combination first needs it (Roles cannot change while the statement runs).
class StatementRoles {
 public:
  // The index of the role written as `text` (a view into the parse tree).
  uint32_t index_of(std::string_view text) {
    auto [index, added] = texts_.insert(text);
    if (added) roles_.push_back(Entry{normalize_role_name(text), nullptr});
    return index;
  }
  const std::string& name(uint32_t index) const { return roles_[index].name; }
  // True once role(index) has found the Role (it is not looked up again).
  bool known(uint32_t index) const { return roles_[index].role != nullptr; }

  Result<RoleRef> role(Engine& engine, uint32_t index) {
    Entry& entry = roles_[index];
    if (entry.role != nullptr) return entry.role;
    auto found = engine.find_role_by_name(entry.name);
    if (!found) return fail(std::move(found.error()));
    if (!*found) return fail(EngineError::unknown_role(entry.name));
    return entry.role = **found;
  }

 private:
  struct Entry {
    std::string name;  // normalised
    RoleRef role = nullptr;
  };
  TextIndex texts_;
  std::vector<Entry> roles_;
};

// Buffers of one posit clause, reused by every clause of the statement.
struct ClauseScratch {
  std::vector<std::string_view> variables;  // one per appearance, written order
  std::vector<const ResultBinding*> inserted;  // the binding an insert made, else null
  std::vector<uint32_t> roles;              // StatementRoles index, one per appearance
  TextIndex list_names;                     // distinct variable names
  std::vector<std::vector<construct::Identity>> lists;
  std::vector<Slot> slots;
  std::vector<size_t> indices;
  std::vector<size_t> cache_offsets;
  std::vector<AppearanceRef> appearance_cache;
  std::vector<AppearanceSetRef> sets;  // the distinct sets, in order of combination
  std::vector<uint32_t> repeats;       // per set when some combinations repeat: those after it
};

class AddPositRun {
 public:
  AddPositRun(Engine& engine, ScriptVariables& variables, const TimeValue& now, const ExecContext& ctx,
              StatementScope scope)
      : engine_(engine), variables_(variables), now_(now), ctx_(ctx), scope_(scope), interning_(engine) {}

  Result<void> run(NodeView statement);

 private:
  Result<void> posit_clause(NodeView posit);
  Result<void> appearances(NodeView appearance_set);
  Result<void> value(NodeView appearing_value, std::optional<Literal>& out);
  Result<void> time(NodeView appearance_time, std::optional<TimeValue>& out);
  Result<void> candidate_lists();
  Result<void> enumerate();
  Result<RoleRef> role_for_slot(size_t slot);
  Result<void> and_assert(NodeView clause);
  Result<const ResultBinding*> draw_into(std::string_view name);
  Result<void> charge_combinations(uint64_t count);
  Result<void> bind_ranges(const std::vector<BindingRange>& ranges, const construct::BlockVector<construct::PositRef>& posits);

  Engine& engine_;
  ScriptVariables& variables_;
  const TimeValue& now_;
  const ExecContext& ctx_;
  const StatementScope scope_;

  construct::PendingPositList posits_;
  std::vector<PendingAssertion> assertions_;
  std::vector<BindingRange> posit_bindings_;
  std::vector<BindingRange> assertion_bindings_;
  bool has_preceding_ = false;
  uint64_t preceding_start_ = 0;
  uint64_t preceding_end_ = 0;
  uint64_t clause_combinations_ = 0;  // of the last posit clause
  uint64_t combinations_ = 0;  // enumerated so far by this statement
  uint64_t posit_combinations_ = 0;  // of them, those of posit clauses
  ClauseScratch scratch_;
  StatementRoles roles_;
  // The interning locks, kept from clause to clause; given back before any call that locks another
  // component (a Role lookup, drawing an identity, the command itself).
  construct::InterningSession interning_;
  // The last appearance-time token and what it parsed to (clauses often repeat one time).
  bool time_cache_valid_ = false;
  std::string_view time_cache_text_;
  std::optional<TimeValue> time_cache_;
};

// The name a binder or operand node writes: the text of its first child (a `variable`).
std::optional<std::string_view> child_variable(NodeView node) {
  auto var = node.first_child();
  if (!var) return std::nullopt;
  return var->text();
}

Result<const ResultBinding*> AddPositRun::draw_into(std::string_view name) {
  interning_.release();
  auto id = engine_.draw_identity();
  if (!id) return fail(std::move(id.error()));
  ResultBinding& binding = variables_.entry(name);
  binding.insert(*id);
  return &binding;
}

Result<void> AddPositRun::charge_combinations(uint64_t count) {
  // The running total never exceeds the maximum once charged, so the sum cannot wrap past it.
  if (count > kMaxAddPositCombinations - combinations_) return fail(too_many_combinations());
  combinations_ += count;
  return {};
}

Result<void> AddPositRun::run(NodeView statement) {
  if (auto stop = ctx_.check_stop(); !stop) return stop;
  // Consumed clause nodes go back in steps of this many (the first node is the statement's own).
  constexpr size_t kReleaseStep = (size_t{2} << 20) / sizeof(Node);
  size_t released = statement.index() + 1;
  for (NodeView child : statement.children()) {
    if (scope_.release_consumed && child.index() - released >= kReleaseStep) {
      release_consumed_nodes(*statement.tree(), released, child.index());
      released = child.index();
    }
    if (child.rule() == Rule::posit) {
      if (auto r = posit_clause(child); !r) return r;
    } else if (child.rule() == Rule::and_assert_clause) {
      if (!has_preceding_) return fail(EngineError::internal("and assert has no preceding target posit"));
      if (auto r = and_assert(child); !r) return r;
    } else {
      return fail(EngineError::internal("unexpected add-posit structure " + rule_text(child.rule())));
    }
  }
  interning_.release();
  const bool bind = !scope_.last_statement;
  if (!bind) variables_ = ScriptVariables();
  const bool handles = bind && !(posit_bindings_.empty() && assertion_bindings_.empty());
  const uint64_t targets = posit_combinations_, asserted = combinations_ - posit_combinations_;
  auto added = engine_.add_pending_posits(std::move(posits_), std::move(assertions_), &ctx_.budget(), handles);
  if (!added) return fail(std::move(added.error()));
  if (handles) {
    if (auto r = bind_ranges(posit_bindings_, added->posits); !r) return r;
    if (auto r = bind_ranges(assertion_bindings_, added->assertions); !r) return r;
  }
  if (trace_enabled() && targets + asserted > 0) {
    trace_event("posit command committed", "add_posit_commit",
                {{"count", std::to_string(targets + asserted)},
                 {"targets", std::to_string(targets)},
                 {"assertions", std::to_string(asserted)}});
  }
  return {};
}

Result<void> AddPositRun::bind_ranges(const std::vector<BindingRange>& ranges,
                                      const construct::BlockVector<construct::PositRef>& posits) {
  for (const BindingRange& range : ranges) {
    // The name is bound even when its clause queued nothing: it then holds an empty value.
    ResultBinding& binding = variables_.entry(range.name);
    for (uint64_t i = range.start; i < range.end; ++i) {
      if (i >= posits.size()) return fail(EngineError::internal("validated posit binding is out of range"));
      binding.insert(posits[i]->identity);
    }
  }
  return {};
}

// Reading a clause (its value decoded and checked, its names looked up) costs about a unit for
// every few bytes of its text.
uint64_t clause_work(NodeView clause) { return 8 + clause.text().size() / 4; }

Result<void> AddPositRun::posit_clause(NodeView posit) {
  if (auto stop = ctx_.work(clause_work(posit)); !stop) return stop;
  ClauseScratch& s = scratch_;
  s.variables.clear();
  s.inserted.clear();
  s.roles.clear();
  std::optional<std::string_view> binding;
  std::optional<Literal> value_literal;
  std::optional<TimeValue> appearance_time;

  for (NodeView child : posit.children()) {
    switch (child.rule()) {
      case Rule::insert: {
        auto name = child_variable(child);
        if (!name) return fail(EngineError::internal("insert node has no variable"));
        binding = *name;
        break;
      }
      case Rule::appearance_set:
        if (auto r = appearances(child); !r) return r;
        break;
      case Rule::appearing_value:
        if (auto r = value(child, value_literal); !r) return r;
        break;
      case Rule::appearance_time:
        if (auto r = time(child, appearance_time); !r) return r;
        break;
      default:
        return fail(EngineError::internal("unexpected posit component " + rule_text(child.rule())));
    }
  }

  if (auto r = candidate_lists(); !r) return r;
  if (auto r = enumerate(); !r) return r;
  if (!appearance_time) return fail(EngineError::execution("add posit requires a valid appearance time"));
  if (!value_literal) return fail(EngineError::execution("add posit requires a valid appearing value"));

  // The clause's Posits share its value and time.
  const literal::LiteralKind family = value_literal->kind;
  const uint64_t start = posits_.size();
  for (size_t i = 0; i < s.sets.size(); ++i) {
    if (auto stop = ctx_.work(1); !stop) return stop;
    const uint32_t repeats = s.repeats.empty() ? 0 : s.repeats[i];
    if (i == 0) {
      posits_.push_back(std::move(*value_literal), s.sets[0], *appearance_time, repeats);
    } else {
      posits_.push_sharing(s.sets[i], repeats);
    }
  }
  const uint64_t end = posits_.size();
  posit_combinations_ += clause_combinations_;
  if (trace_enabled() && end > start) {
    std::string roles;
    for (const Slot& slot : s.slots) {
      if (!roles.empty()) roles.push_back(',');
      roles += roles_.name(s.roles[slot.role]);
    }
    trace_event("posits queued for command commit", "add_posit_queued",
                {{"count", std::to_string(clause_combinations_)},
                 {"roles", std::move(roles)},
                 {"value_family", std::string(literal::family_name(family))}});
  }
  if (binding) posit_bindings_.push_back(BindingRange{*binding, start, end});
  has_preceding_ = true;
  preceding_start_ = start;
  preceding_end_ = end;
  return {};
}

Result<void> AddPositRun::appearances(NodeView appearance_set) {
  ClauseScratch& s = scratch_;
  for (NodeView appearance : appearance_set.children()) {
    for (NodeView part : appearance.children()) {
      switch (part.rule()) {
        case Rule::recall: {
          auto name = child_variable(part);
          if (!name) return fail(EngineError::internal("appearance recall has no variable"));
          s.variables.push_back(*name);
          s.inserted.push_back(nullptr);
          break;
        }
        case Rule::insert: {
          auto name = child_variable(part);
          if (!name) return fail(EngineError::internal("appearance insert has no variable"));
          s.variables.push_back(*name);
          auto binding = draw_into(*name);
          if (!binding) return fail(std::move(binding.error()));
          s.inserted.push_back(*binding);
          break;
        }
        case Rule::role:
          s.roles.push_back(roles_.index_of(part.text()));
          break;
        default:
          return fail(EngineError::internal("unexpected appearance rule " + rule_text(part.rule())));
      }
    }
  }
  return {};
}

Result<void> AddPositRun::value(NodeView appearing_value, std::optional<Literal>& out) {
  auto token = appearing_value.first_child();
  if (!token) return {};
  if (token->rule() == Rule::parameter) {
    auto param = ctx_.lookup_parameter(token->text());
    if (!param) return fail(std::move(param.error()));
    out = (*param)->literal;
    return {};
  }
  auto lit = lower_value_literal(token->rule(), token->text(), now_);
  if (!lit) return fail(std::move(lit.error()));
  out = std::move(*lit);
  return {};
}

Result<void> AddPositRun::time(NodeView appearance_time, std::optional<TimeValue>& out) {
  auto token = appearance_time.first_child();
  if (!token) return {};
  if (!is_time_operand(token->rule())) {
    return fail(EngineError::internal("unexpected time rule " + rule_text(token->rule())));
  }
  // A time that does not read leaves the clause without one (the clause fails after its combinations).
  if (token->rule() == Rule::time && time_cache_valid_ && token->text() == time_cache_text_) {
    out = time_cache_;
    return {};
  }
  auto time = lower_time_operand(*token, ctx_);
  if (!time) return fail(std::move(time.error()));
  if (token->rule() == Rule::time) {
    time_cache_text_ = token->text();
    time_cache_ = *time;
    time_cache_valid_ = true;
  }
  out = *time;
  return {};
}

Result<void> AddPositRun::candidate_lists() {
  ClauseScratch& s = scratch_;
  s.list_names.clear();
  s.slots.clear();
  for (size_t entry = 0; entry < s.variables.size(); ++entry) {
    const std::string_view name = s.variables[entry];
    const auto [list, added] = s.list_names.insert(name);
    if (added) {
      if (s.lists.size() <= list) s.lists.emplace_back();
      s.lists[list].clear();
    }
    const ResultBinding* var = s.inserted[entry] != nullptr ? s.inserted[entry] : variables_.find(name);
    if (var == nullptr) {
      return fail(EngineError::invalid_query_recall("variable '" + std::string(name) +
                                                    "' is not bound in a prior command"));
    }
    // Every slot of one name appends the same binding (no identity is drawn meanwhile): the list
    // is the variable's distinct identities once per slot.
    const size_t before = s.lists[list].size();
    var->append_identities(s.lists[list]);
    s.slots.push_back(Slot{list, static_cast<uint32_t>(s.slots.size()),
                           static_cast<uint32_t>(s.lists[list].size() - before), 0});
  }
  if (s.roles.size() != s.slots.size()) {
    return fail(EngineError::internal("appearance variables/roles mismatch: " + std::to_string(s.slots.size()) +
                                      " variables, " + std::to_string(s.roles.size()) + " roles"));
  }
  // Stable by list length. Clauses mostly have a few slots: an insertion sort needs no buffer.
  auto shorter = [&s](const Slot& a, const Slot& b) { return s.lists[a.list].size() < s.lists[b.list].size(); };
  if (s.slots.size() > kInsertionSortLimit) {
    std::stable_sort(s.slots.begin(), s.slots.end(), shorter);
    return {};
  }
  for (size_t i = 1; i < s.slots.size(); ++i) {
    const Slot moving = s.slots[i];
    size_t j = i;
    for (; j > 0 && shorter(moving, s.slots[j - 1]); --j) s.slots[j] = s.slots[j - 1];
    s.slots[j] = moving;
  }
  return {};
}

Result<RoleRef> AddPositRun::role_for_slot(size_t slot) {
  return roles_.role(engine_, scratch_.roles[scratch_.slots[slot].role]);
}

// The combinations run over the slots' lists in order, the last slot fastest. A list that several
// slots share holds its variable's identities once per slot, so a combination that takes one of
// them past its first copy has the set of the combination that takes that identity from the first
// copy, an earlier one: it is a repeat. Only the combinations within the first copies are built
// (each a distinct set, in the same order); the repeats after each are counted, and each is charged.
Result<void> AddPositRun::enumerate() {
  ClauseScratch& s = scratch_;
  s.sets.clear();
  s.repeats.clear();
  clause_combinations_ = 0;
  const size_t k = s.slots.size();
  if (k == 0) return {};
  uint64_t combinations = 1;
  for (const Slot& slot : s.slots) {
    if (s.lists[slot.list].empty()) return {};
    combinations = saturating_mul(combinations, s.lists[slot.list].size());
  }
  if (auto r = charge_combinations(combinations); !r) return r;
  clause_combinations_ = combinations;
  s.indices.assign(k, 0);
  s.cache_offsets.resize(k);
  // Combinations are numbered only when some are repeats (a list holds more than one copy).
  bool repeating = false;
  uint64_t stride = 1;  // no more than the combinations charged
  for (size_t i = k; i-- > 0;) {
    s.slots[i].stride = static_cast<uint32_t>(stride);
    stride *= s.lists[s.slots[i].list].size();
    repeating = repeating || s.slots[i].copy != s.lists[s.slots[i].list].size();
  }
  size_t cache_size = 0;
  for (size_t i = 0; i < k; ++i) {
    s.cache_offsets[i] = cache_size;
    cache_size += s.slots[i].copy;
  }
  s.appearance_cache.assign(cache_size, nullptr);

  uint64_t last = 0;  // the number of the last combination built
  for (;;) {
    // A combination interns up to k Appearances and a set.
    if (auto stop = ctx_.work(16 * (k + 1)); !stop) return stop;
    std::vector<AppearanceRef> members;
    members.reserve(k);
    for (size_t i = 0; i < k; ++i) {
      AppearanceRef& cached = s.appearance_cache[s.cache_offsets[i] + s.indices[i]];
      if (cached == nullptr) {
        if (!roles_.known(s.roles[s.slots[i].role])) interning_.release();
        auto role = role_for_slot(i);
        if (!role) return fail(std::move(role.error()));
        const construct::Identity thing = s.lists[s.slots[i].list][s.indices[i]];
        auto appearance = interning_.intern_appearance(*role, thing);
        if (!appearance) return fail(std::move(appearance.error()));
        cached = appearance->first;
      }
      members.push_back(cached);
    }
    auto set = interning_.intern_appearance_set(std::move(members));
    if (!set) return fail(std::move(set.error()));
    if (repeating) {
      uint64_t number = 0;
      for (size_t i = 0; i < k; ++i) number += s.indices[i] * s.slots[i].stride;
      if (!s.repeats.empty()) s.repeats.back() = static_cast<uint32_t>(number - last - 1);
      s.repeats.push_back(0);
      last = number;
    }
    s.sets.push_back(set->first);

    size_t i = k;
    while (i > 0) {
      --i;
      if (++s.indices[i] < s.slots[i].copy) break;
      s.indices[i] = 0;
      if (i == 0) {
        if (repeating) s.repeats.back() = static_cast<uint32_t>(combinations - last - 1);
        return {};
      }
    }
  }
}

Result<void> AddPositRun::and_assert(NodeView clause) {
  if (auto stop = ctx_.work(clause_work(clause)); !stop) return stop;
  std::optional<std::string_view> binding;
  std::optional<std::string_view> source;
  bool source_is_insert = false;
  std::optional<Literal> certainty;
  std::optional<TimeValue> assertion_time;

  for (NodeView child : clause.children()) {
    switch (child.rule()) {
      case Rule::assertion_binding: {
        auto insert = child.first_child();
        if (!insert) return fail(EngineError::internal("assertion binding contains no insertion"));
        auto name = child_variable(*insert);
        if (!name) return fail(EngineError::internal("assertion insertion has no variable"));
        binding = *name;
        break;
      }
      case Rule::assertion_source: {
        auto operand = child.first_child();
        if (!operand) return fail(EngineError::internal("assertion source contains no variable"));
        auto name = child_variable(*operand);
        if (!name) return fail(EngineError::internal("assertion source has no variable"));
        source = *name;
        source_is_insert = operand->rule() == Rule::insert;
        break;
      }
      case Rule::assertion_certainty: {
        auto token = child.first_child();
        if (!token) return fail(EngineError::internal("assertion certainty is empty"));
        if (token->rule() == Rule::parameter) {
          auto param = ctx_.lookup_parameter(token->text());
          if (!param) return fail(std::move(param.error()));
          certainty = (*param)->literal;
        } else {
          auto lit = lower_literal(token->rule(), token->text(), now_);
          if (!lit) return fail(std::move(lit.error()));
          certainty = std::move(*lit);
        }
        break;
      }
      case Rule::assertion_time: {
        auto token = child.first_child();
        if (!token) return fail(EngineError::internal("assertion time is empty"));
        if (!is_time_operand(token->rule())) {
          return fail(EngineError::internal("unexpected assertion-time rule " + rule_text(token->rule())));
        }
        auto time = lower_time_operand(*token, ctx_);
        if (!time) return fail(std::move(time.error()));
        if (!*time) return fail(EngineError::execution("invalid assertion time " + std::string(token->text())));
        assertion_time = *time;
        break;
      }
      default:
        return fail(EngineError::internal("unexpected and-assert component " + rule_text(child.rule())));
    }
  }

  if (!source) return fail(EngineError::internal("and assert has no source variable"));
  if (source_is_insert) {
    if (auto id = draw_into(*source); !id) return fail(std::move(id.error()));
  }
  const ResultBinding* var = variables_.find(*source);
  if (var == nullptr) {
    return fail(EngineError::invalid_query_recall("assertion source '" + std::string(*source) + "' is not bound"));
  }
  std::vector<construct::Identity> sources;
  var->append_identities(sources);
  if (sources.empty()) {
    return fail(EngineError::invalid_query_recall("assertion source '" + std::string(*source) + "' is empty"));
  }
  if (!certainty) return fail(EngineError::internal("and assert has no certainty"));
  if (certainty->kind != literal::LiteralKind::Certainty) {
    return fail(EngineError::execution("and assert requires a percent certainty, found " + certainty->text));
  }
  if (!assertion_time) return fail(EngineError::internal("and assert has no assertion time"));

  if (auto r = charge_combinations(saturating_mul(clause_combinations_, sources.size())); !r) return r;
  const uint64_t start = assertions_.size();
  for (uint64_t target = preceding_start_; target < preceding_end_; ++target) {
    // The assertions of the target's repeats would repeat its own, after its last.
    const auto repeats = static_cast<uint32_t>(posits_.repeats(target) * sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
      assertions_.push_back(PendingAssertion{*certainty, *assertion_time, target, sources[i],
                                             i + 1 == sources.size() ? repeats : 0});
    }
  }
  if (binding) assertion_bindings_.push_back(BindingRange{*binding, start, assertions_.size()});
  has_preceding_ = false;
  return {};
}

}  // namespace

Result<void> execute_add_posit_command(Engine& engine, NodeView statement, ScriptVariables& variables,
                                       const TimeValue& now, const ExecContext& ctx, StatementScope scope) {
  AddPositRun run(engine, variables, now, ctx, scope);
  return run.run(statement);
}

Result<void> execute_add_posit_command(Engine& engine, const Pair& statement, ScriptVariables& variables,
                                       const TimeValue& now, const ExecContext& ctx) {
  return execute_add_posit_command(engine, NodeView(statement.tree().get(), statement.index()), variables, now, ctx);
}

}  // namespace brackwater::velquin
