#include "construct/keyed_hash.h"

#include <gtest/gtest.h>

#include <string>

namespace brackwater::construct {
namespace {

// Small writes at every tail position hash like the same bytes written at once.
TEST(SipHasher, SmallWritesMatchByteStrings) {
  for (size_t prefix = 0; prefix < 16; ++prefix) {
    SipHasher<1, 3> parts(11, 22);
    SipHasher<1, 3> whole(11, 22);
    std::string bytes(prefix, 'p');
    parts.write(bytes);
    parts.write_u8(0xAB);
    parts.write_u32(0x01020304);
    parts.write_u64(0x1122334455667788ULL);
    parts.write_u32(0xFFFFFFFF);
    bytes += '\xAB';
    bytes += std::string("\x04\x03\x02\x01", 4);
    bytes += std::string("\x88\x77\x66\x55\x44\x33\x22\x11", 8);
    bytes += std::string("\xFF\xFF\xFF\xFF", 4);
    whole.write(bytes);
    EXPECT_EQ(parts.finish(), whole.finish()) << prefix;
  }
}

}  // namespace
}  // namespace brackwater::construct
