// The posting indexes filed when a Posit is indexed.
//
// AppearanceSetPositIndex: an Appearance set to the identities of its Posits.
// RolePositIndex: a Role identity to the identities of the Posits whose set has that Role; a Role
// with no Posit has no entry.
// PositAppearanceSetIndex: a Posit identity to its Appearance set (one entry per indexed Posit).
// PositTimeIndex: a Posit identity to its appearance time (one entry per indexed Posit).
// The last two map identities to ordinals of the stored Posits and read the set and the time from
// the immutable records. Lookups never create entries. Each sits behind its own lock in EngineState
// and is attached to the record storage when the engine is built.
#pragma once

#include <optional>
#include <unordered_map>

#include "construct/appearance_catalogs.h"
#include "construct/id_ordinal_map.h"
#include "construct/identity_set.h"
#include "construct/record_storage.h"
#include "construct/records.h"
#include "construct/ref_list.h"

namespace brackwater::construct {

class AppearanceSetPositIndex {
 public:
  void attach(const RecordStorage* records) { records_ = records; }
  // The Posits of a set equal to `set`, or nullptr when it has none.
  const Posting* find(const AppearanceSet& set) const;
  // `set` is a catalog set.
  void add(AppearanceSetRef set, Identity posit);
  size_t size() const { return count_; }
  void account(MemoryUsage& usage) const {
    usage.postings += list_bytes(by_set_);
    usage.tables += copies_.memory_bytes();
  }

 private:
  const RecordStorage* records_ = nullptr;
  StableArena<Posting> by_set_;  // by set ordinal
  size_t count_ = 0;             // sets with at least one Posit
  mutable ContentLookup copies_;
};

class RolePositIndex {
 public:
  const IdentitySet* find(Identity role) const {
    auto it = by_role_.find(role);
    return it == by_role_.end() ? nullptr : &it->second;
  }
  void add(Identity role, Identity posit) { by_role_[role].add(posit); }
  size_t size() const { return by_role_.size(); }
  void account(MemoryUsage& usage) const {
    for (const auto& [role, set] : by_role_) usage.postings += 64 + identity_set_bytes(set);
  }

  // Files many (Role, Posit) pairs, remembering the last Role's posting between calls.
  class Filer {
   public:
    explicit Filer(RolePositIndex& index) : index_(index) {}
    void add(Identity role, Identity posit) {
      if (last_ == nullptr || role != last_role_) {
        last_role_ = role;
        last_ = &index_.by_role_[role];
      }
      last_->add(posit);
    }

   private:
    RolePositIndex& index_;
    Identity last_role_ = 0;
    IdentitySet* last_ = nullptr;
  };

 private:
  std::unordered_map<Identity, IdentitySet> by_role_;
};

// Identities of stored Posits to their ordinals in the Posit storage.
class PositOrdinals {
 public:
  void attach(const RecordStorage* records) { records_ = records; }
  PositRef find(Identity posit) const {
    const uint32_t ordinal = by_posit_.find(posit);
    return ordinal == kNoOrdinal ? nullptr : &records_->posits[ordinal];
  }
  // Files a stored Posit and its ordinal in the Posit storage.
  void add(PositRef posit, uint32_t ordinal) { by_posit_.insert(posit->identity, ordinal); }
  size_t size() const { return by_posit_.size(); }
  void account(MemoryUsage& usage) const { usage.tables += by_posit_.memory_bytes(); }
  // Visits (identity, Posit) in ascending identity order.
  template <class F>
  void for_each(F&& f) const {
    by_posit_.for_each([&](Identity id, uint32_t ordinal) { f(id, &records_->posits[ordinal]); });
  }
  // As for_each while `f` returns true; false when `f` stopped the walk.
  template <class F>
  bool visit_while(F&& f) const {
    return by_posit_.visit_while([&](Identity id, uint32_t ordinal) { return f(id, &records_->posits[ordinal]); });
  }

 private:
  const RecordStorage* records_ = nullptr;
  IdOrdinalMap by_posit_;
};

class PositAppearanceSetIndex {
 public:
  void attach(const RecordStorage* records) { posits_.attach(records); }
  AppearanceSetRef find(Identity posit) const {
    PositRef p = posits_.find(posit);
    return p ? p->appearance_set : nullptr;
  }
  void add(PositRef posit, uint32_t ordinal) { posits_.add(posit, ordinal); }
  size_t size() const { return posits_.size(); }
  void account(MemoryUsage& usage) const { posits_.account(usage); }
  // Visits (identity, set) in ascending identity order.
  template <class F>
  void for_each(F&& f) const {
    posits_.for_each([&](Identity id, PositRef p) { f(id, p->appearance_set); });
  }
  // As for_each while `f` returns true; false when `f` stopped the walk.
  template <class F>
  bool visit_while(F&& f) const {
    return posits_.visit_while([&](Identity id, PositRef p) { return f(id, p->appearance_set); });
  }
  // Every indexed Posit identity.
  IdentitySet keys() const;

 private:
  PositOrdinals posits_;
};

class PositTimeIndex {
 public:
  void attach(const RecordStorage* records) { posits_.attach(records); }
  std::optional<TimeValue> find(Identity posit) const {
    PositRef p = posits_.find(posit);
    if (p == nullptr) return std::nullopt;
    return p->appearance_time;
  }
  void add(PositRef posit, uint32_t ordinal) { posits_.add(posit, ordinal); }
  size_t size() const { return posits_.size(); }
  void account(MemoryUsage& usage) const { posits_.account(usage); }

 private:
  PositOrdinals posits_;
};

}  // namespace brackwater::construct
