#include "storage/bytes.h"

#include <gtest/gtest.h>

#include <random>

#include "storage/crc32c.h"

namespace brackwater::storage {
namespace {

using B = std::vector<uint8_t>;

std::string read_error(const B& bytes, auto reader) {
  Cursor c{Bytes(bytes)};
  auto r = reader(c);
  return r ? std::string("ok") : r.error().message();
}

TEST(Uleb128, ReadsCanonicalFormsAndRefusesTheRest) {
  struct Case {
    B bytes;
    std::string expect;  // value in decimal, or the message
  };
  const B nine_ff(9, 0xFF);
  auto with = [&](uint8_t last) {
    B b = nine_ff;
    b.push_back(last);
    return b;
  };
  const Case cases[] = {
      {{0x00}, "0"},
      {{0x7F}, "127"},
      {{0x80, 0x01}, "128"},
      {{0x80, 0x00}, "non-canonical ULEB128"},
      {with(0x01), "18446744073709551615"},
      {with(0x02), "ULEB128 overflow"},
      {with(0x81), "ULEB128 overflow"},
      {with(0x00), "non-canonical ULEB128"},
      {{0x80}, "truncated ULEB128"},
      {{}, "truncated ULEB128"},
  };
  for (const Case& c : cases) {
    Cursor cur{Bytes(c.bytes)};
    auto r = read_uleb128(cur);
    if (r) {
      EXPECT_EQ(std::to_string(*r), c.expect);
      EXPECT_EQ(cur.pos, c.bytes.size());
    } else {
      EXPECT_EQ(r.error().message(), c.expect);
      EXPECT_EQ(r.error().kind(), construct::ErrorKind::DataCorruption);
    }
  }
}

TEST(Uleb128, WriterEmitsShortestForm) {
  const std::pair<uint64_t, B> cases[] = {
      {0, {0x00}},
      {127, {0x7F}},
      {128, {0x80, 0x01}},
      {300, {0xAC, 0x02}},
      {UINT64_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
  };
  for (const auto& [value, bytes] : cases) {
    ByteWriter w;
    w.put_uleb128(value);
    EXPECT_EQ(w.bytes(), bytes) << value;
  }
}

TEST(ZigZag, MapsSmallMagnitudesToSmallCodes) {
  const std::pair<int64_t, uint64_t> cases[] = {{0, 0}, {-1, 1}, {1, 2}, {-2, 3}, {INT64_MIN, UINT64_MAX}, {INT64_MAX, UINT64_MAX - 1}};
  for (auto [v, code] : cases) {
    EXPECT_EQ(zigzag_encode(v), code);
    EXPECT_EQ(zigzag_decode(code), v);
  }
}

TEST(FixedReaders, LittleEndianAndNamedTruncation) {
  B bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  Cursor c{Bytes(bytes)};
  EXPECT_EQ(*read_u16(c, "a"), 0x0201);
  EXPECT_EQ(*read_u32(c, "b"), 0x06050403u);
  EXPECT_EQ(read_u64(c, "committed length").error().message(), "truncated committed length");
  EXPECT_EQ(c.pos, 6u);
  EXPECT_EQ(*read_u8(c, "c"), 0x07);
  EXPECT_EQ(read_error(B(15, 0), [](Cursor& k) { return read_uuid(k, "store UUID"); }), "truncated store UUID");
}

TEST(ByteStrings, LengthThenBytes) {
  B ok = {0x03, 'a', 'b', 'c', 0xFF};
  Cursor c{Bytes(ok)};
  auto s = read_byte_string(c);
  ASSERT_TRUE(s);
  EXPECT_EQ(as_text(*s), "abc");
  EXPECT_EQ(c.pos, 4u);
  EXPECT_EQ(read_error(B{0x05, 1, 2, 3, 4}, [](Cursor& k) { return read_byte_string(k); }),
            "truncated byte-string field");
  EXPECT_EQ(read_error(B{0x80}, [](Cursor& k) { return read_byte_string(k); }), "truncated ULEB128");
  EXPECT_EQ(read_error(B{0x02, 0xC3, 0x28}, [](Cursor& k) { return read_utf8_text(k); }),
            "invalid UTF-8 text: invalid utf-8 sequence of 1 bytes from index 0");
}

TEST(Utf8Check, DescribesTheFirstInvalidSequence) {
  const std::pair<B, std::string> cases[] = {
      {{'a', 'b'}, ""},
      {{0xC3, 0xA9}, ""},
      {{0xF0, 0x9F, 0x98, 0x80}, ""},
      {{0xC3, 0x28}, "invalid utf-8 sequence of 1 bytes from index 0"},
      {{0xE2, 0x82, 0x28}, "invalid utf-8 sequence of 2 bytes from index 0"},
      {{'x', 0xE2, 0x82}, "incomplete utf-8 byte sequence from index 1"},
      {{0xF0, 0x9F, 0x98, 'x'}, "invalid utf-8 sequence of 3 bytes from index 0"},
      {{0xE0, 0x80, 0x80}, "invalid utf-8 sequence of 1 bytes from index 0"},  // overlong
      {{0xED, 0xA0, 0x80}, "invalid utf-8 sequence of 1 bytes from index 0"},  // surrogate
      {{0xF4, 0x90, 0x80, 0x80}, "invalid utf-8 sequence of 1 bytes from index 0"},
      {{0xC0, 0x80}, "invalid utf-8 sequence of 1 bytes from index 0"},
      {{0xF5}, "invalid utf-8 sequence of 1 bytes from index 0"},
      {{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 0x80}, "invalid utf-8 sequence of 1 bytes from index 9"},
      {{0xC3}, "incomplete utf-8 byte sequence from index 0"},
  };
  for (const auto& [bytes, expect] : cases) {
    auto fault = check_utf8(bytes);
    EXPECT_EQ(fault ? fault->describe() : "", expect);
  }
}

TEST(Crc32c, CheckValuesAndBothImplementationsAgree) {
  EXPECT_EQ(crc32c(as_bytes("123456789")), 0xE3069283u);
  EXPECT_EQ(crc32c(as_bytes("")), 0u);
  EXPECT_EQ(crc32c_extend_portable(0, as_bytes("123456789")), 0xE3069283u);
  std::mt19937_64 rng(7);
  B data(4099);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (size_t len : {0, 1, 7, 8, 9, 63, 64, 65, 1000, 4099}) {
    for (size_t start : {0, 1, 3}) {
      if (start > len) continue;
      Bytes slice(data.data() + start, len - start);
      EXPECT_EQ(crc32c(slice), crc32c_extend_portable(0, slice)) << len << "/" << start;
    }
  }
  // Extending equals checksumming the concatenation.
  Bytes all(data);
  EXPECT_EQ(crc32c_extend(crc32c(all.first(1000)), all.subspan(1000)), crc32c(all));
}

}  // namespace
}  // namespace brackwater::storage
