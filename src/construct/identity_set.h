// IdentitySet: a compressed bitmap of 64-bit identities (postings, multi-valued script variables).
#pragma once

#include <roaring/roaring64map.hh>

namespace brackwater::construct {

using IdentitySet = ::Roaring64Map;

}  // namespace brackwater::construct
