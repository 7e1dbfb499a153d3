#include "literal/unicode.h"

#include <gtest/gtest.h>

namespace brackwater::literal {
namespace {

TEST(Unicode, WhiteSpaceIsExactlyTheTwentyFiveCodePoints) {
  int count = 0;
  for (char32_t cp = 0; cp < 0x110000; ++cp) count += is_white_space(cp);
  EXPECT_EQ(count, 25);
  EXPECT_FALSE(is_white_space(0x200B));  // zero width space is not White_Space
  EXPECT_TRUE(is_white_space(0x3000));
}

TEST(Unicode, Trim) {
  EXPECT_EQ(trim_white_space(" \t\n a b \r\v\f"), "a b");
  EXPECT_EQ(trim_white_space("\xC2\xA0x\xE3\x80\x80"), "x");             // U+00A0, U+3000
  EXPECT_EQ(trim_white_space(" \xE2\x80\x8B "), "\xE2\x80\x8B");        // U+200B stays
  EXPECT_EQ(trim_white_space(""), "");
  // Stray bytes that happen to equal a White_Space code point are not trimmed.
  EXPECT_EQ(trim_white_space("\x85x\xA0"), "\x85x\xA0");
}

TEST(Unicode, NormalFormC) {
  EXPECT_EQ(to_nfc("cafe\xCC\x81"), "caf\xC3\xA9");
  EXPECT_EQ(to_nfc("caf\xC3\xA9"), "caf\xC3\xA9");
  EXPECT_EQ(to_nfc("\xEF\xAC\x81"), "\xEF\xAC\x81");  // a compatibility ligature is kept in NFC
}

TEST(Unicode, DecodeAndCategories) {
  std::string s = "a\xC3\xA9\xF0\x9F\x98\x80";
  size_t pos = 0;
  EXPECT_EQ(decode_utf8(s, pos), U'a');
  EXPECT_EQ(decode_utf8(s, pos), U'\u00E9');
  EXPECT_EQ(decode_utf8(s, pos), U'\U0001F600');
  EXPECT_EQ(pos, s.size());
  std::string round;
  append_utf8(round, U'\U0001F600');
  EXPECT_EQ(round, "\xF0\x9F\x98\x80");
  EXPECT_TRUE(is_uppercase_letter(U'\u00C9'));
  EXPECT_TRUE(is_cased_letter(U'\u00E9'));
  EXPECT_TRUE(is_numeric(U'\u00B2'));
  EXPECT_TRUE(is_mark(U'\u0301'));
  EXPECT_FALSE(is_numeric(U'x'));
}

}  // namespace
}  // namespace brackwater::literal
