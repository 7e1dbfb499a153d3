// The working state of appearance-set matching, kept between candidates.
//
// The pattern matcher keeps one per pattern and row and passes it to every candidate Posit, so the
// buffers are allocated once.
// The search for assignments counts its steps and the members it tries as work on the context's
// budget; the rows it keeps count against the output table's row limit and budget, and its index of
// them is charged to the budget while a candidate is matched.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "construct/error.h"
#include "construct/flat_table.h"
#include "construct/records.h"
#include "velquin/exec_context.h"
#include "velquin/query/query.h"

namespace brackwater::velquin::query {

// Slots that hold an identity: a Thing or a Posit.
inline bool is_identity(const BoundSlot& slot) {
  return std::holds_alternative<ThingValue>(slot) || std::holds_alternative<PositValue>(slot);
}
inline Identity identity_of(const BoundSlot& slot) {
  if (auto* t = std::get_if<ThingValue>(&slot)) return t->id;
  return std::get<PositValue>(slot).id;
}
// `IncompatibleDomains`: `var` is bound to a value of another kind than `expected`.
inline construct::EngineError wrong_kind(const Var& var, const BoundSlot& bound, BindingKind expected) {
  return construct::EngineError::incompatible_domains(binding_kind_name(kind_of(bound)), binding_kind_name(expected),
                                                      var.name);
}

class SetMatchScratch {
 public:
  // Appends to `out` the distinct extensions of `row` that match the set slot of `pattern`.
  construct::Result<void> match(const PositPattern& pattern, const construct::AppearanceSet& set,
                                std::span<const BoundSlot> row, RowTable& out, const ExecContext& ctx);
  // Releases buffers grown large. The scratch holds no charge between calls.
  void trim();

 private:
  struct Undo {
    VarId var;
    BoundSlot old;
  };
  struct Frame {
    uint32_t entry;
    uint32_t next;   // the first member still to try
    uint32_t taken;  // the member the deeper frames build on, or none
    size_t mark;     // trail length before `taken` was tried
  };

  // Lets the row index go: its charge, and its table when grown large.
  void release_index() noexcept;
  construct::Result<void> assign(RowTable& out, const ExecContext& ctx);
  bool top_binds_new() const;
  void abandon_top();
  construct::Result<uint32_t> next_member(const AppearanceSearch& entry, uint32_t from);
  const std::string* named_role(const AppearanceSearch& entry) const;
  construct::Result<void> check_thing_slot(const ThingSlot& slot) const;
  uint32_t member_named(const std::string& name);
  construct::Result<bool> try_member(const AppearanceSearch& entry, uint32_t j);
  construct::Result<bool> try_slots(const AppearanceSearch& entry, const construct::Appearance& member);
  construct::Result<bool> bind(const Var& var, const BoundSlot& candidate);
  void undo_to(size_t mark);
  uint64_t key_hash(std::span<const BoundSlot> row) const;
  bool same_keys(std::span<const BoundSlot> a, std::span<const BoundSlot> b) const;
  construct::Result<void> emit(RowTable& out);

  // Per call.
  const ExecContext* ctx_ = nullptr;
  std::span<const AppearanceSearch> entries_;
  std::span<const construct::AppearanceRef> members_;
  size_t first_emitted_ = 0;  // index in `out` of the first completed row
  bool emitted_any_ = false;
  bool indexed_ = false;  // key_vars_ and seen_ are filled (from the second completed row on)
  bool names_built_ = false;
  // Buffers kept between calls.
  BindingRow row_;
  std::vector<uint8_t> used_;
  std::vector<Undo> trail_;
  std::vector<Frame> stack_;
  std::vector<VarId> key_vars_;  // the variables the entries bind, each once
  std::unordered_map<std::string_view, uint32_t> by_name_;
  construct::FlatTable<uint32_t> seen_;  // the kept rows, as offsets from first_emitted_ in `out`, by key hash
  construct::Charge seen_charge_;        // seen_'s bytes, while a candidate is matched (never past the call)
  uint64_t tries_ = 0;                   // members tried since the last count of work
};

}  // namespace brackwater::velquin::query
