// The relationship signatures of one frame, in flat storage.
//
// A signature is the list of Role identities of a set's members, ascending. Signatures are
// numbered in the order they are first added; the Roles of all of them lie end to end in one
// array, and a hash table maps a signature to its number. The hash is SipHash under the process
// keys (the same for every table of the process, so that two frames' tables are joined without
// hashing again, and Role lists chosen from outside cannot pile up in one probe chain). Per
// signature the table counts the frame's Posits of its sets and lists the sets in the order they
// were added: the lists of all signatures share one array, laid out by finish() once every set is
// in. Nothing here depends on the hash values' order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "construct/flat_table.h"
#include "construct/records.h"

namespace brackwater::terrain {

class SignatureTable {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;

  // The hash under which `roles` is filed.
  static uint64_t hash(std::span<const uint64_t> roles);

  uint32_t size() const { return static_cast<uint32_t>(hashes_.size()); }
  std::span<const uint64_t> roles(uint32_t i) const {
    return std::span(role_arena_).subspan(role_offsets_[i], role_offsets_[i + 1] - role_offsets_[i]);
  }
  uint64_t hash_of(uint32_t i) const { return hashes_[i]; }
  uint64_t posits(uint32_t i) const { return posits_[i]; }
  // After finish(): the sets of signature i, in the order they were added.
  std::span<const construct::AppearanceSetRef> sets(uint32_t i) const {
    return std::span(sets_).subspan(set_offsets_[i], set_offsets_[i + 1] - set_offsets_[i]);
  }
  uint64_t set_count(uint32_t i) const { return set_offsets_[i + 1] - set_offsets_[i]; }

  // The number of signature `roles`, whose hash is `h`, or kNone.
  uint32_t find(std::span<const uint64_t> roles, uint64_t h) const;

  // Files `set`, of signature `roles` (hash `h`) with `posits` Posits in the frame. Returns the
  // signature's number and whether it is new; false in `ok` when its Posit count would pass the
  // largest 64-bit value (nothing is filed then).
  struct Added {
    uint32_t signature = 0;
    bool is_new = false;
    bool ok = true;
  };
  Added add(std::span<const uint64_t> roles, uint64_t h, construct::AppearanceSetRef set, uint64_t posits);

  // Lays out each signature's sets, in the order they were added. No set is added afterwards.
  void finish();

 private:
  construct::FlatTable<uint32_t> index_;
  std::vector<uint64_t> role_arena_;
  std::vector<uint64_t> role_offsets_{0};  // signature i: role_arena_[role_offsets_[i], role_offsets_[i + 1])
  std::vector<uint64_t> hashes_;
  std::vector<uint64_t> posits_;
  std::vector<uint32_t> set_offsets_;      // after finish(), like role_offsets_ over sets_
  std::vector<construct::AppearanceSetRef> sets_;  // before finish(), in the order added
  std::vector<uint32_t> set_signatures_;   // before finish(), the signature of each of sets_
};

}  // namespace brackwater::terrain
