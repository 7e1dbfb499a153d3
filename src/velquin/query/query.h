// The compiled form of one search statement, and the rows a search run works on.
//
// compile_search (compile.h) builds a CompiledSearch from the parse tree once per statement; the
// planner, the matchers and the run only read it. Nothing here refers to the parse tree.
//
// Variables. Every name is held without its sigil ("?", "+", "$"). One search is one name space:
// after compilation every variable of the search (bound, recalled, compared, returned or ordered)
// has a VarId, its position in `CompiledSearch::variables`, which lists the names sorted by their
// bytes. So a BindingRow, indexed by VarId, visits its variables in name-byte order.
//
// Rows. A BindingRow is a partial solution: one BoundSlot per variable of the search, unbound
// (std::monostate) where the row has no value. Bound values are small and trivially copyable:
// records are plain pointers valid for the engine's life, and a bound literal points at the value
// of the Posit it was read from. RowTable keeps many rows of one width in one flat buffer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <boost/container/small_vector.hpp>

#include "construct/budget.h"
#include "construct/error.h"
#include "construct/identity.h"
#include "construct/large_array.h"
#include "construct/records.h"
#include "literal/literal.h"
#include "literal/time_value.h"
#include "velquin/string_map.h"

namespace brackwater::velquin::query {

using construct::Identity;
using literal::Literal;
using literal::TimeValue;

using VarId = uint32_t;
inline constexpr VarId kNoVar = UINT32_MAX;

// A variable as written in a slot: its bare name, and its id once compilation assigned ids.
struct Var {
  std::string name;
  VarId id = kNoVar;
};

struct Wildcard {};

// ?a|?b|...: two or more recalled Thing variables, in written order.
struct ThingUnion {
  std::vector<Var> members;
};

// A Role name, trimmed, stripped of one pair of backquotes and in normal form C.
struct RoleName {
  std::string name;
};

using ThingSlot = std::variant<Wildcard, Var, ThingUnion>;
using RoleSlot = std::variant<Wildcard, RoleName, Var>;
using ValueSlot = std::variant<Wildcard, Var, Literal>;
using TimeSlot = std::variant<Wildcard, Var, TimeValue>;
using CutoffOperand = std::variant<TimeValue, Var>;
using PredicateOperand = std::variant<Var, Literal, TimeValue>;

struct AppearanceSearch {
  RoleSlot role;
  ThingSlot thing;
};

struct PositPattern;

struct InEffectClause {
  CutoffOperand assertion_cutoff;
  CutoffOperand appearance_cutoff;
  std::shared_ptr<const PositPattern> via;  // the assertion-envelope pattern, or null
};

struct PositPattern {
  std::vector<AppearanceSearch> appearances;
  std::optional<Var> appearance_set_binding;
  bool open = false;                // extra members allowed ("..." or a Thing union)
  bool any_appearance_set = false;  // the "*" set slot
  std::optional<Var> posit_binding;
  std::optional<CutoffOperand> as_of;
  std::optional<InEffectClause> in_effect;
  ValueSlot value;
  TimeSlot time;
  bool latest = false;
};

using PatternGroup = std::vector<PositPattern>;

struct Predicate {
  Var left;
  std::string op;  // as written: "===", "?=", "<=", ">=", "<", ">", "="
  PredicateOperand right;
};

struct OrderItem {
  Var variable;
  bool descending = false;
};

struct SearchQuery {
  std::vector<PatternGroup> groups;  // the search clause, then one per union; never empty
  std::vector<PatternGroup> not_exists_groups;
  std::vector<Predicate> predicates;
  std::vector<Var> returns;  // written order, duplicates kept
  std::vector<OrderItem> order_items;
  bool distinct = false;
};

enum class BindingKind : uint8_t {
  Thing = 0,
  Role = 1,
  Posit = 2,
  AppearanceSet = 3,
  LiteralValue = 4,
  Time = 5,
};

// "Thing", "Role", "Posit", "AppearanceSet", "LiteralValue", "Time".
std::string_view binding_kind_name(BindingKind kind);

// The domain of every variable that a pattern (positive, not-exists or via) binds.
class VariableDomains {
 public:
  // The first binding fixes the kind; Thing and Posit widen to Posit; any other clash is `IncompatibleDomains`
  // naming the recorded kind first and `kind` second.
  construct::Result<void> record(std::string_view name, BindingKind kind);
  std::optional<BindingKind> find(std::string_view name) const;

 private:
  struct Entry {
    std::string name;
    BindingKind kind;
  };
  static constexpr size_t kIndexMin = 16;

  // The position of `name` in `entries_`, or entries_.size().
  size_t position(std::string_view name) const;

  // A search names few variables: they are searched in order, and through `index_` (name ->
  // position in `entries_`) once there are kIndexMin of them.
  boost::container::small_vector<Entry, 8> entries_;
  StringMap<size_t> index_;
};

struct CompiledSearch {
  SearchQuery query;
  VariableDomains domains;
  std::vector<std::string> variables;  // every name of the search, sorted by bytes; index = VarId

  std::optional<VarId> find_variable(std::string_view name) const;
};

// ---- Rows ----

struct ThingValue {
  Identity id = 0;
};
struct PositValue {
  Identity id = 0;
};
using LiteralRef = const Literal*;  // the value of a stored Posit

// Index order matters: BoundSlot::index() - 1 is the BindingKind of a bound slot.
using BoundSlot = std::variant<std::monostate, ThingValue, construct::RoleRef, PositValue,
                               construct::AppearanceSetRef, LiteralRef, TimeValue>;

inline bool is_bound(const BoundSlot& slot) { return slot.index() != 0; }
// The kind of a bound slot (not monostate).
inline BindingKind kind_of(const BoundSlot& slot) { return static_cast<BindingKind>(slot.index() - 1); }

// Equality of a bound value with a candidate met again: Thing and Posit by identity (also across
// the two), Roles by identity, sets by their members, literals by text bytes, times identical.
// Other kind pairs are unequal.
bool bound_value_eq(const BoundSlot& a, const BoundSlot& b);

using BindingRow = std::vector<BoundSlot>;  // one slot per VarId

// The units of work (construct/budget.h) of a step that reads a bound value whole: hashing,
// comparing, copying or rendering it.
inline uint64_t value_work(const BoundSlot& slot) {
  if (auto* literal = std::get_if<LiteralRef>(&slot)) return construct::work_for_bytes((*literal)->text.size());
  if (auto* set = std::get_if<construct::AppearanceSetRef>(&slot)) return 1 + (*set)->members.size();
  return 1;
}
// The same for the values of `vars` in `row`.
inline uint64_t values_work(std::span<const BoundSlot> row, const std::vector<Var>& vars) {
  uint64_t units = 0;
  for (const Var& v : vars) units += value_work(row[v.id]);
  return units;
}

// The most rows one table of a search may hold: kMaxSearchRows for rows of up to three variables;
// wider rows lower it so that a table stays within kMaxSearchRowSlots slots (720 MB), and a join
// step, which holds the rows it reads beside the rows it makes, within 1.5 GB. Never below 1.
inline constexpr size_t kMaxSearchRows = 10'000'000;
inline constexpr size_t kMaxSearchRowSlots = 30'000'000;
inline size_t max_search_rows(size_t width) {
  return width <= kMaxSearchRowSlots / kMaxSearchRows ? kMaxSearchRows : std::max<size_t>(1, kMaxSearchRowSlots / width);
}
// `ResourceLimit` "search rows" with the maximum for rows of `width`.
construct::EngineError too_many_search_rows(size_t width);

// Rows of one width in one buffer, at most max_search_rows(width) of them: a push or append past
// that fails with too_many_search_rows and adds nothing. Given a budget, the buffer charges its
// bytes before it grows; past the budget a push or append fails with its error and adds nothing.
class RowTable {
 public:
  explicit RowTable(size_t width = 0, construct::Budget* budget = nullptr)
      : width_(width), max_rows_(max_search_rows(width)), cells_(budget) {}

  size_t width() const { return width_; }
  size_t size() const { return count_; }
  bool empty() const { return size() == 0; }
  std::span<const BoundSlot> row(size_t i) const { return {cells_.data() + i * width_, width_}; }
  std::span<BoundSlot> row(size_t i) { return {cells_.data() + i * width_, width_}; }

  [[nodiscard]] construct::Result<void> push(std::span<const BoundSlot> row) {
    if (count_ < max_rows_ && cells_.has_room(row.size())) [[likely]] {
      cells_.append_in_room(row);
      ++count_;
      return {};
    }
    return push_growing(row);
  }
  // Appends a row with every variable unbound.
  [[nodiscard]] construct::Result<void> push_unbound() {
    if (count_ >= max_rows_) return construct::fail(too_many_search_rows(width_));
    if (auto r = cells_.resize(cells_.size() + width_); !r) return r;
    ++count_;
    return {};
  }
  [[nodiscard]] construct::Result<void> append(const RowTable& other) {
    if (other.count_ > max_rows_ - count_) return construct::fail(too_many_search_rows(width_));
    if (auto r = cells_.append(std::span(other.cells_.data(), other.cells_.size())); !r) return r;
    count_ += other.count_;
    return {};
  }
  void clear() {
    cells_.clear();
    count_ = 0;
  }
  // Empties the table for rows of `width`, keeping its buffer, which from here is charged to
  // `budget` (none: to no budget).
  [[nodiscard]] construct::Result<void> reset(size_t width, construct::Budget* budget) {
    clear();
    width_ = width;
    max_rows_ = max_search_rows(width);
    return cells_.attach(budget);
  }
  size_t capacity_cells() const { return cells_.capacity(); }
  // Leaves the budget: what the buffer holds is no longer charged.
  void detach() { cells_.detach(); }
  // Keeps the first `rows` rows (rows <= size()).
  void truncate(size_t rows) {
    cells_.truncate(rows * width_);
    count_ = rows;
  }

 private:
  // push past the row limit or the buffer's room.
  construct::Result<void> push_growing(std::span<const BoundSlot> row);

  size_t width_;
  size_t max_rows_;
  size_t count_ = 0;
  construct::LargeArray<BoundSlot> cells_;  // grows without a copy; a large one is freed in the background
};

}  // namespace brackwater::velquin::query
