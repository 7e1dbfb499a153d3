// Script variables: the identities each variable of a script has taken so far.
//
// A ResultBinding is empty, one identity, or a set of two or more; it is only ever added to (insert).
// ScriptVariables maps a variable name without its sigil to its binding for the length of one
// script; nothing of a failed statement is removed from it. VariableKinds records whether an add
// branch binds a name as a Thing or as a Posit; recording both for one name is kind 11.
#pragma once

#include <roaring/roaring64map.hh>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "construct/error.h"
#include "construct/identity.h"
#include "velquin/string_map.h"

namespace brackwater::velquin {

using construct::Identity;

class ResultBinding {
 public:
  // Empty -> Single; Single(same) unchanged; Single(other) -> Multi of both; Multi inserts.
  void insert(Identity id);

  bool empty() const { return std::holds_alternative<std::monostate>(state_); }
  uint64_t size() const;
  // Appends the identities in ascending order.
  void append_identities(std::vector<Identity>& out) const;
  bool operator==(const ResultBinding&) const = default;

 private:
  std::variant<std::monostate, Identity, Roaring64Map> state_;
};

using ScriptVariables = StringMap<ResultBinding>;

// The identities of a binding: none, the one, or every member ascending.
construct::Result<std::vector<Identity>> result_set_binding(const ResultBinding& binding);

// Adds `id` to the variable `name`, creating an empty entry first when absent.
void bind_identity(ScriptVariables& variables, std::string_view name, Identity id);

enum class BinderKind : uint8_t { Thing, Posit };

// "Thing" or "Posit".
std::string_view binder_kind_name(BinderKind kind);

class VariableKinds {
 public:
  // Absent: recorded; same kind: nothing; other kind: kind 11 (variable, recorded kind, new kind).
  construct::Result<void> record(std::string name, BinderKind kind);
  std::optional<BinderKind> find(std::string_view name) const;

 private:
  StringMap<BinderKind> kinds_;
};

}  // namespace brackwater::velquin
