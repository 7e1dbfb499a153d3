// IdentitySet: a compressed bitmap of 64-bit identities (postings, multi-valued script variables).
#pragma once

#include <cstdint>

#include <roaring/roaring64map.hh>

namespace brackwater::construct {

using IdentitySet = ::Roaring64Map;

// The number of identities in `set`. Roaring64Map::cardinality (and isEmpty) of the roaring release
// we build with copy every inner bitmap (their lambdas take the map entries as pair<uint32_t,
// Roaring>); the rank of the largest identity counts them in place.
inline uint64_t identity_count(const IdentitySet& set) { return set.rank(UINT64_MAX); }

// An estimate of the heap bytes a set holds (its containers' in-memory size).
inline size_t identity_set_bytes(const IdentitySet& set) {
  return set.getSizeInBytes(false);
}

}  // namespace brackwater::construct
