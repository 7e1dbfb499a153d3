// The JSON string reader, built on the word-at-a-time scans, answers as a byte-by-byte loop does, on
// strings whose special bytes fall at every offset of a block.
#include "literal/byte_scan.h"

#include <gtest/gtest.h>

#include <random>

#include "literal/json_string.h"
#include "literal/unicode.h"

namespace brackwater::literal {
namespace {

// The reader as one loop over bytes: the closing quote (a backslash takes the next byte), a control
// byte refused before it, then the UTF-8 check of the body. Its escapes are all valid ones.
std::string reference(std::string_view text) {
  size_t pos = 1;
  while (pos < text.size()) {
    const unsigned char b = static_cast<unsigned char>(text[pos]);
    if (b == '"') break;
    if (b < 0x20) return "control";
    pos += b == '\\' ? 2 : 1;
  }
  if (pos >= text.size()) return "unterminated";
  for (size_t p = 1; p < pos;) {
    const unsigned char b = static_cast<unsigned char>(text[p]);
    if (b < 0x80) {
      p += b == '\\' ? 2 : 1;
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

TEST(ByteScan, JsonStringsReadAsByteByByte) {
  std::mt19937 random(11);
  const std::string pieces[] = {"a",  "\"",         "\x01", "\x7f",         "\xc3\xa9",        "\xc3",
                                "\\n", "\\\"", "\\\\", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
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
}

}  // namespace
}  // namespace brackwater::literal
