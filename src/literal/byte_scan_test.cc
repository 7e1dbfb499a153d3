// The word-at-a-time scans stop where a byte-by-byte loop would, and the JSON string reader built on
// them answers as that loop did, on strings whose special bytes fall at every offset of a block.
#include "literal/byte_scan.h"

#include <gtest/gtest.h>

#include <random>

#include "literal/json_string.h"
#include "literal/unicode.h"

namespace brackwater::literal {
namespace {

// The reader as one loop over bytes: the closing quote (a backslash takes the next byte), a control
// byte refused before it, then the UTF-8 check of an escape-free body. Texts without escapes only.
std::string reference(std::string_view text) {
  size_t pos = 1;
  while (pos < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[pos]);
    if (b == '"') break;
    if (b == '\\') return "escape";
    if (b < 0x20) return "control";
    ++pos;
  }
  if (pos >= text.size()) return "unterminated";
  for (size_t p = 1; p < pos;) {
    if (static_cast<unsigned char>(text[p]) < 0x80) {
      ++p;
      continue;
    }
    const size_t len = utf8_sequence_at(text, p).length;
    if (len == 0 || p + len > pos) return "invalid";
    p += len;
  }
  return "end " + std::to_string(pos + 1);
}

std::string read(std::string_view text) {
  std::string scratch;
  std::string_view decoded;
  auto end = read_json_string(text, 0, scratch, decoded);
  if (end) return "end " + std::to_string(*end);
  switch (end.error().kind) {
    case JsonStringError::Kind::Unterminated: return "unterminated";
    case JsonStringError::Kind::ControlByte: return "control";
    case JsonStringError::Kind::Invalid: return "invalid";
  }
  return "?";
}

TEST(ByteScan, SkipsOnlyBlocksWithoutAStoppingByte) {
  std::string text(64, 'a');
  for (size_t at = 0; at < text.size(); ++at) {
    for (const char stop : {'"', '\\', '\x1f', '\x80'}) {
      std::string t = text;
      t[at] = stop;
      const size_t plain = skip_plain_string_bytes(t, 0, t.size());
      EXPECT_EQ(plain, stop == '\x80' ? 64u : at / 8 * 8) << int(stop) << " at " << at;  // non-ASCII is plain
      EXPECT_EQ(skip_ascii(t, 0, t.size()), stop == '\x80' ? at / 8 * 8 : 64u) << int(stop) << " at " << at;
    }
  }
  EXPECT_EQ(skip_plain_string_bytes(std::string(13, ' '), 0, 13), 8u);  // fewer than eight left: stop
  EXPECT_EQ(skip_ascii(std::string(20, 'x'), 3, 20), 19u);
}

TEST(ByteScan, JsonStringsReadAsByteByByte) {
  std::mt19937 random(11);
  const std::string pieces[] = {"a", "b", "\"", "\x01", "\x7f", "\xc3\xa9", "\xc3", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
  for (int round = 0; round < 20000; ++round) {
    std::string text = "\"";
    const size_t length = random() % 40;
    for (size_t i = 0; i < length; ++i) {
      // Mostly plain bytes, so that the special ones land at every offset of the blocks.
      text += random() % 4 != 0 ? std::string(1, char('a' + random() % 26)) : pieces[random() % std::size(pieces)];
    }
    if (random() % 2 == 0) text += '"';
    ASSERT_EQ(read(text), reference(text)) << text;
  }
  // A long body with one escape or control byte at each offset.
  for (size_t at = 1; at < 40; ++at) {
    std::string text = "\"" + std::string(40, 'x') + "\"";
    text[at] = '\x02';
    EXPECT_EQ(read(text), "control") << at;
    text[at] = '\\';
    text.insert(at + 1, "n");
    EXPECT_EQ(read(text), "end " + std::to_string(text.size())) << at;
  }
}

}  // namespace
}  // namespace brackwater::literal
