// The hash keys of the model records.
//
// Catalog and index keys hash with SeaHash under its default seeds (deterministic), feeding 64-bit
// words as 8 little-endian bytes: a Role name is its UTF-8 bytes then 0xFF; an identity is one word;
// an Appearance is its Thing then its Role identity; an AppearanceSet is its member count, then per
// member (in stored order) the Thing then the Role identity. The proposition key of a Posit hashes
// the same member feed, the value text bytes then 0xFF, and the appearance time (tag, then the
// fields of that precision) with the randomly keyed SipHash-1-3. Each hash agrees with the matching
// equality of records.h.
#pragma once

#include <cstdint>
#include <string_view>

#include "construct/records.h"

namespace brackwater::construct {

uint64_t role_name_hash(std::string_view nfc_name);
uint64_t appearance_hash(const Appearance& appearance);
uint64_t appearance_set_hash(const AppearanceSet& set);
uint64_t posit_key_hash(const PositKey& key);

// Feeds a time value's tag and the fields of its precision into a hasher with write_u64/write_u32/write_u8.
template <class Hasher>
void hash_time_value(Hasher& h, const TimeValue& t) {
  h.write_u64(static_cast<uint64_t>(t.tag));
  switch (t.tag) {
    case literal::TimeTag::Bot:
    case literal::TimeTag::Eot:
      break;
    case literal::TimeTag::Year:
      h.write_u32(static_cast<uint32_t>(t.year));
      break;
    case literal::TimeTag::YearMonth:
      h.write_u32(static_cast<uint32_t>(t.year));
      h.write_u8(t.month);
      break;
    case literal::TimeTag::Date:
      h.write_u32(static_cast<uint32_t>(t.year));
      h.write_u8(t.month);
      h.write_u8(t.day);
      break;
    case literal::TimeTag::DateTime:
      h.write_u32(static_cast<uint32_t>(t.year));
      h.write_u8(t.month);
      h.write_u8(t.day);
      h.write_u32(t.secs);
      h.write_u32(t.nanos);
      break;
  }
}

}  // namespace brackwater::construct
