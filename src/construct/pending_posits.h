// What an add posit command hands the engine: the Posits it wants to exist and the assertions of
// them, before they are interned.
//
// A pending list holds a value once however many Posits in a row share it (the Posits of one
// clause), and the storage of the Posits goes back as the reading passes it. A pending Posit may
// also stand for Posits of the same proposition that followed it and were dropped before they were
// queued (its repeats): interning passes over the identities they would have drawn and given back,
// so the identities of all that comes after are as if each had been queued.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "construct/chunk_list.h"
#include "construct/identity.h"
#include "construct/records.h"
#include "literal/literal.h"
#include "literal/time_value.h"

namespace brackwater::construct {

// A Posit an add posit command wants to exist.
struct PendingPosit {
  literal::Literal value;
  AppearanceSetRef appearance_set = nullptr;
  literal::TimeValue time;
};

// An assertion about the pending Posit at position `target` of the same call; `repeats` counts
// the assertions of the same proposition dropped right after it.
struct PendingAssertion {
  literal::Literal certainty;
  literal::TimeValue time;
  uint64_t target = 0;
  Identity source = 0;
  uint32_t repeats = 0;
};

// The pending Posits of one command in order, filled at the back, then read once from front to
// back: the value of a position is read while it is the next one to read.
class PendingPositList {
 public:
  PendingPositList() = default;
  explicit PendingPositList(std::vector<PendingPosit> posits);

  // A Posit with a value of its own.
  void push_back(literal::Literal&& value, AppearanceSetRef set, const literal::TimeValue& time, uint32_t repeats = 0);
  // A Posit of the value and time of the Posit pushed last.
  void push_sharing(AppearanceSetRef set, uint32_t repeats = 0) {
    const Entry& last = entries_[entries_.size() - 1];
    const literal::TimeValue time = last.time;  // copied: the push may move `last`
    const literal::LiteralKind kind = last.kind;
    entries_.emplace_back(std::string(), set, time, repeats, kind, true);
  }

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  AppearanceSetRef& set(size_t i) { return entries_[i].set; }
  uint32_t repeats(size_t i) const { return entries_[i].repeats; }

  class Reading;
  // Reads position `i`, the next to read.
  Reading read(size_t i);

 private:
  struct Entry {
    std::string text;  // empty when sharing
    AppearanceSetRef set;
    literal::TimeValue time;
    uint32_t repeats;
    literal::LiteralKind kind;
    bool sharing;  // has the value of the position before it
  };
  static_assert(sizeof(Entry) <= 64);

  ChunkList<Entry> entries_;
  literal::Literal shared_;  // the value of the sharing positions being read
};

// One position of a pending list while it is read.
class PendingPositList::Reading {
 public:
  AppearanceSetRef set() const { return entry_.set; }
  const literal::TimeValue& time() const { return entry_.time; }
  uint32_t repeats() const { return entry_.repeats; }
  const std::string& text() const { return entry_.sharing ? list_.shared_.text : entry_.text; }
  // The value, for a Posit of its own: the value itself when no later position shares it, else a copy.
  literal::Literal take_value() {
    if (entry_.sharing) return last_ ? std::move(list_.shared_) : list_.shared_;
    return last_ ? literal::Literal{std::move(entry_.text), entry_.kind} : literal::Literal{entry_.text, entry_.kind};
  }
  // The position is read for the last time (a value that the next position shares stays with the list).
  void done() {
    if (!entry_.sharing && !last_) list_.shared_ = literal::Literal{std::move(entry_.text), entry_.kind};
    list_.entries_.consumed(i_);
  }

 private:
  friend class PendingPositList;
  Reading(PendingPositList& list, size_t i)
      : list_(list),
        entry_(list.entries_[i]),
        i_(i),
        last_(i + 1 == list.entries_.size() || !list.entries_[i + 1].sharing) {}

  PendingPositList& list_;
  Entry& entry_;
  const size_t i_;
  const bool last_;  // no later position shares the value
};

inline PendingPositList::Reading PendingPositList::read(size_t i) { return Reading(*this, i); }

}  // namespace brackwater::construct
