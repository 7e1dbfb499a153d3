#include "velquin/result_binding.h"

namespace brackwater::velquin {

void ResultBinding::insert(Identity id) {
  if (empty()) {
    state_ = id;
  } else if (auto* single = std::get_if<Identity>(&state_)) {
    if (*single == id) return;
    Roaring64Map set;
    set.add(*single);
    set.add(id);
    state_ = std::move(set);
  } else {
    std::get<Roaring64Map>(state_).add(id);
  }
}

uint64_t ResultBinding::size() const {
  if (empty()) return 0;
  if (std::holds_alternative<Identity>(state_)) return 1;
  return std::get<Roaring64Map>(state_).cardinality();
}

void ResultBinding::append_identities(std::vector<Identity>& out) const {
  if (auto* single = std::get_if<Identity>(&state_)) {
    out.push_back(*single);
  } else if (auto* set = std::get_if<Roaring64Map>(&state_)) {
    size_t base = out.size();
    out.resize(base + set->cardinality());
    set->toUint64Array(out.data() + base);
  }
}

construct::Result<std::vector<Identity>> result_set_binding(const ResultBinding& binding) {
  std::vector<Identity> out;
  binding.append_identities(out);
  return out;
}

void bind_identity(ScriptVariables& variables, std::string_view name, Identity id) {
  auto it = variables.find(name);
  if (it == variables.end()) it = variables.emplace(std::string(name), ResultBinding{}).first;
  it->second.insert(id);
}

std::string_view binder_kind_name(BinderKind kind) { return kind == BinderKind::Posit ? "Posit" : "Thing"; }

construct::Result<void> VariableKinds::record(std::string name, BinderKind kind) {
  auto it = kinds_.find(name);
  if (it == kinds_.end()) {
    kinds_.emplace(std::move(name), kind);
    return {};
  }
  if (it->second == kind) return {};
  return construct::fail(
      construct::EngineError::incompatible_domains(binder_kind_name(it->second), binder_kind_name(kind), std::move(name)));
}

std::optional<BinderKind> VariableKinds::find(std::string_view name) const {
  auto it = kinds_.find(name);
  if (it == kinds_.end()) return std::nullopt;
  return it->second;
}

}  // namespace brackwater::velquin
