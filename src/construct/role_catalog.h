// The Role catalog: Roles by NFC name and by identity.
//
// Owns the Role records (stable addresses for the engine's life). `find_by_name` normalises the name
// to NFC itself; `insert` expects an NFC name. A name registered once keeps its identity and flag.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "construct/records.h"

namespace brackwater::construct {

class RoleCatalog {
 public:
  std::optional<RoleRef> find_by_name(std::string_view name) const;
  std::optional<RoleRef> find_by_id(Identity id) const;

  // Registration under an NFC name: the stored Role and whether the name was present before (then
  // the passed identity and flag are dropped).
  std::pair<RoleRef, bool> insert(std::string nfc_name, Identity id, bool reserved);

  size_t size() const { return by_id_.size(); }
  bool empty() const { return by_name_.empty(); }

  // Every Role, in ascending identity order.
  std::vector<RoleRef> roles_by_identity() const;

 private:
  struct NameHash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const;
  };
  struct NameEq {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return a == b; }
  };

  std::deque<Role> records_;
  std::unordered_map<std::string, RoleRef, NameHash, NameEq> by_name_;
  std::unordered_map<Identity, RoleRef> by_id_;
};

}  // namespace brackwater::construct
