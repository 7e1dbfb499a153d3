// Script variables: the identities each variable of a script has taken so far.
//
// A ResultBinding is empty, one identity, or a set of two or more; it is only ever added to (insert).
// ScriptVariables maps a variable name without its sigil to its binding for the length of one
// script; nothing of a failed statement is removed from it. VariableKinds records whether an add
// branch binds a name as a Thing or as a Posit; recording both for one name is `IncompatibleDomains`.
#pragma once

#include <roaring/roaring64map.hh>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "construct/block_storage.h"
#include "construct/error.h"
#include "construct/identity.h"
#include "construct/stable_arena.h"
#include "velquin/string_map.h"

namespace brackwater::velquin {

using construct::Identity;

class ResultBinding {
 public:
  ResultBinding() = default;
  ResultBinding(const ResultBinding& other);
  ResultBinding& operator=(const ResultBinding& other);
  ResultBinding(ResultBinding&& other) noexcept
      : single_(std::exchange(other.single_, 0)), state_(std::exchange(other.state_, State::Empty)) {}
  ResultBinding& operator=(ResultBinding&& other) noexcept;
  ~ResultBinding();

  // Empty -> Single; Single(same) unchanged; Single(other) -> Multi of both; Multi inserts.
  void insert(Identity id);

  bool empty() const { return state_ == State::Empty; }
  uint64_t size() const;
  // Appends the identities in ascending order.
  void append_identities(std::vector<Identity>& out) const;
  bool operator==(const ResultBinding& other) const;

 private:
  enum class State : uint8_t { Empty, Single, Multi };
  union {
    Identity single_ = 0;  // the Single state's identity
    Roaring64Map* multi_;  // owned, in the Multi state
  };
  State state_ = State::Empty;
};
static_assert(sizeof(ResultBinding) == 16);

// The script variables: name (without its sigil) to binding. Entries are only ever added, and an
// entry keeps its address for the life of the table.
class ScriptVariables {
 public:
  ScriptVariables() = default;
  ScriptVariables(const ScriptVariables&) = delete;
  ScriptVariables& operator=(const ScriptVariables&) = delete;
  ScriptVariables(ScriptVariables&&) noexcept = default;
  ScriptVariables& operator=(ScriptVariables&&) noexcept = default;

  ResultBinding* find(std::string_view name);
  const ResultBinding* find(std::string_view name) const;
  // The binding of `name`, created empty when absent.
  ResultBinding& entry(std::string_view name);
  size_t size() const { return count_; }

 private:
  // A name of up to seven bytes is held in the entry itself (its last byte 0x80 | length, which no
  // pointer has); a longer one in names_.
  struct Entry {
    union {
      const char* name;  // in names_, after its length
      char short_name[8];
    };
    ResultBinding binding;
    std::string_view name_view() const;
  };
  // The names, each its length (4 bytes) then its bytes, one after another in blocks that are
  // given back whole with the table.
  class NameBytes {
   public:
    NameBytes() = default;
    NameBytes(const NameBytes&) = delete;
    NameBytes& operator=(const NameBytes&) = delete;
    ~NameBytes();
    const char* store(std::string_view name);

   private:
    static constexpr size_t kBlock = size_t{256} << 10;
    std::vector<std::pair<char*, size_t>> blocks_;
    char* next_ = nullptr;
    size_t room_ = 0;
  };
  // Entries live in an arena of doubling chunks (16 entries first), filled in place, so they never
  // move and only the entries made are ever built or destroyed; a script of many variables gets
  // large chunks that are given back whole when the script ends.
  using Entries = construct::StableArena<Entry, 4>;

  const Entry& at(size_t index) const { return (*entries_)[static_cast<uint32_t>(index)]; }
  Entry& at(size_t index) { return (*entries_)[static_cast<uint32_t>(index)]; }
  // Slot of `name` in `slots_`: its entry or the empty slot where it belongs.
  size_t probe(std::string_view name) const;
  void grow();

  std::unique_ptr<Entries> entries_ = std::make_unique<Entries>();
  std::unique_ptr<NameBytes> names_ = std::make_unique<NameBytes>();
  size_t count_ = 0;
  // 0 empty, else entry index + 1; at most half full. Four bytes a slot keep a script of many
  // variables small (a name is compared in its entry).
  std::vector<uint32_t, construct::BlockAllocator<uint32_t>> slots_;
};

// The identities of a binding: none, the one, or every member ascending.
construct::Result<std::vector<Identity>> result_set_binding(const ResultBinding& binding);

// Adds `id` to the variable `name`, creating an empty entry first when absent.
void bind_identity(ScriptVariables& variables, std::string_view name, Identity id);

enum class BinderKind : uint8_t { Thing, Posit };

// "Thing" or "Posit".
std::string_view binder_kind_name(BinderKind kind);

class VariableKinds {
 public:
  // Absent: recorded; same kind: nothing; other kind: `IncompatibleDomains` (variable, recorded kind, new kind).
  construct::Result<void> record(std::string name, BinderKind kind);
  std::optional<BinderKind> find(std::string_view name) const;

 private:
  StringMap<BinderKind> kinds_;
};

}  // namespace brackwater::velquin
