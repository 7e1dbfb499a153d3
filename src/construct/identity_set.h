// IdentitySet: a compressed bitmap of 64-bit identities (postings, multi-valued script variables).
#pragma once

#include <roaring/roaring64map.hh>

namespace brackwater::construct {

using IdentitySet = ::Roaring64Map;

// An estimate of the heap bytes a set holds (its containers' in-memory size).
inline size_t identity_set_bytes(const IdentitySet& set) {
  return set.getSizeInBytes(false);
}

}  // namespace brackwater::construct
