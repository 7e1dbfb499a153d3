// The persisted form of a time value: a tag byte, then the tag's fields (little-endian).
//   0 BOT | 1 EOT | 2 year i32 | 3 year i32, month u8 | 4 year i32, month u8, day u8 |
//   5 year i32, month u8, day u8, hour u8, minute u8, second u8, nanosecond u32
// A leap second is second 59 with a nanosecond field of 1,000,000,000 or more. Decoding accepts
// exactly what the time parsers can produce (same calendar range), `DataCorruption` otherwise.
#pragma once

#include "literal/time_value.h"
#include "storage/bytes.h"

namespace brackwater::storage {

void write_persisted_time(const literal::TimeValue& time, ByteWriter& out);
Result<literal::TimeValue> read_persisted_time(Cursor& c);

}  // namespace brackwater::storage
