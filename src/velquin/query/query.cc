#include "velquin/query/query.h"

#include <algorithm>

namespace brackwater::velquin::query {

construct::EngineError too_many_search_rows(size_t width) {
  return construct::EngineError::resource_limit("search rows", max_search_rows(width));
}

construct::Result<void> RowTable::push_growing(std::span<const BoundSlot> row) {
  if (count_ >= max_rows_) return construct::fail(too_many_search_rows(width_));
  if (auto r = cells_.append(row); !r) return r;
  ++count_;
  return {};
}

std::string_view binding_kind_name(BindingKind kind) {
  switch (kind) {
    case BindingKind::Thing: return "Thing";
    case BindingKind::Role: return "Role";
    case BindingKind::Posit: return "Posit";
    case BindingKind::AppearanceSet: return "AppearanceSet";
    case BindingKind::LiteralValue: return "LiteralValue";
    case BindingKind::Time: return "Time";
  }
  return "Thing";
}

size_t VariableDomains::position(std::string_view name) const {
  if (entries_.size() >= kIndexMin) {
    auto it = index_.find(name);
    return it == index_.end() ? entries_.size() : it->second;
  }
  size_t i = 0;
  while (i < entries_.size() && entries_[i].name != name) ++i;
  return i;
}

construct::Result<void> VariableDomains::record(std::string_view name, BindingKind kind) {
  const size_t at = position(name);
  if (at == entries_.size()) {
    entries_.push_back(Entry{std::string(name), kind});
    if (entries_.size() == kIndexMin) {
      for (size_t i = 0; i < entries_.size(); ++i) index_.emplace(entries_[i].name, i);
    } else if (entries_.size() > kIndexMin) {
      index_.emplace(entries_.back().name, entries_.size() - 1);
    }
    return {};
  }
  Entry* it = &entries_[at];
  const BindingKind recorded = it->kind;
  if (recorded == kind) return {};
  auto identity_kind = [](BindingKind k) { return k == BindingKind::Thing || k == BindingKind::Posit; };
  if (identity_kind(recorded) && identity_kind(kind)) {
    it->kind = BindingKind::Posit;
    return {};
  }
  return construct::fail(
      construct::EngineError::incompatible_domains(binding_kind_name(recorded), binding_kind_name(kind), std::string(name)));
}

std::optional<BindingKind> VariableDomains::find(std::string_view name) const {
  const size_t at = position(name);
  if (at == entries_.size()) return std::nullopt;
  return entries_[at].kind;
}

std::optional<VarId> CompiledSearch::find_variable(std::string_view name) const {
  auto it = std::lower_bound(variables.begin(), variables.end(), name,
                             [](const std::string& a, std::string_view b) { return std::string_view(a) < b; });
  if (it == variables.end() || *it != name) return std::nullopt;
  return static_cast<VarId>(it - variables.begin());
}

bool bound_value_eq(const BoundSlot& a, const BoundSlot& b) {
  auto identity = [](const BoundSlot& s) -> std::optional<Identity> {
    if (auto* t = std::get_if<ThingValue>(&s)) return t->id;
    if (auto* p = std::get_if<PositValue>(&s)) return p->id;
    return std::nullopt;
  };
  if (auto ia = identity(a)) {
    auto ib = identity(b);
    return ib && *ia == *ib;
  }
  if (a.index() != b.index()) return false;
  if (auto* r = std::get_if<construct::RoleRef>(&a)) {
    auto* o = std::get_if<construct::RoleRef>(&b);
    return *r == *o || (*r)->identity == (*o)->identity;
  }
  if (auto* s = std::get_if<construct::AppearanceSetRef>(&a)) {
    return construct::appearance_list_eq(**s, **std::get_if<construct::AppearanceSetRef>(&b));
  }
  if (auto* l = std::get_if<LiteralRef>(&a)) {
    auto* o = std::get_if<LiteralRef>(&b);
    return *l == *o || (*l)->text == (*o)->text;
  }
  if (auto* t = std::get_if<TimeValue>(&a)) return t->identical(*std::get_if<TimeValue>(&b));
  return false;  // both unbound
}

}  // namespace brackwater::velquin::query
