#include "construct/role_catalog.h"

#include <algorithm>

#include "construct/record_keys.h"
#include "literal/unicode.h"

namespace brackwater::construct {

namespace {

bool is_ascii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

size_t RoleCatalog::NameHash::operator()(std::string_view name) const { return role_name_hash(name); }

std::optional<RoleRef> RoleCatalog::find_by_name(std::string_view name) const {
  auto lookup = [this](std::string_view nfc) -> std::optional<RoleRef> {
    auto it = by_name_.find(nfc);
    if (it == by_name_.end()) return std::nullopt;
    return it->second;
  };
  if (is_ascii(name)) return lookup(name);  // ASCII text is already in NFC
  return lookup(literal::to_nfc(name));
}

std::optional<RoleRef> RoleCatalog::find_by_id(Identity id) const {
  auto it = by_id_.find(id);
  if (it == by_id_.end()) return std::nullopt;
  return it->second;
}

std::pair<RoleRef, bool> RoleCatalog::insert(std::string nfc_name, Identity id, bool reserved) {
  auto it = by_name_.find(std::string_view(nfc_name));
  if (it != by_name_.end()) return {it->second, true};
  const Role& role = records_.emplace_back(Role{std::move(nfc_name), id, reserved});
  by_name_.emplace(role.name, &role);
  by_id_[id] = &role;
  return {&role, false};
}

std::vector<RoleRef> RoleCatalog::roles_by_identity() const {
  std::vector<RoleRef> out;
  out.reserve(by_id_.size());
  for (const auto& entry : by_id_) out.push_back(entry.second);
  std::sort(out.begin(), out.end(), [](RoleRef a, RoleRef b) { return a->identity < b->identity; });
  return out;
}

}  // namespace brackwater::construct
