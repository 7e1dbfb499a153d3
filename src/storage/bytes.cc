#include "storage/bytes.h"

#include <cstring>

#include "literal/unicode.h"
#include "storage/text.h"

namespace brackwater::storage {

namespace {

EngineError truncated(std::string_view field) { return EngineError::data_corruption(str_cat("truncated ", field)); }

template <class T>
Result<T> read_fixed(Cursor& c, std::string_view field) {
  if (c.remaining() < sizeof(T)) return fail(truncated(field));
  const uint8_t* p = c.data.data() + c.pos;
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) v |= uint64_t(p[i]) << (8 * i);
  c.pos += sizeof(T);
  return static_cast<T>(v);
}

template <class T>
Result<void> read_expected(Cursor& c, std::string_view field, T expected) {
  auto v = read_fixed<T>(c, field);
  if (!v) return fail(std::move(v.error()));
  if (*v != expected) return fail(EngineError::data_corruption(str_cat("invalid ", field, ": ", *v)));
  return {};
}

}  // namespace

UlebDecoder::Step UlebDecoder::feed(uint8_t byte) {
  unsigned shift = 7 * count_;
  ++count_;
  if (shift == 63 && ((byte & 0x7F) > 1 || (byte & 0x80))) return Step::Overflow;
  value_ |= uint64_t(byte & 0x7F) << shift;
  if (byte & 0x80) return Step::More;
  if (count_ >= 2 && byte == 0) return Step::NonCanonical;
  return Step::Done;
}

Result<uint8_t> read_u8(Cursor& c, std::string_view field) { return read_fixed<uint8_t>(c, field); }
Result<uint16_t> read_u16(Cursor& c, std::string_view field) { return read_fixed<uint16_t>(c, field); }
Result<uint32_t> read_u32(Cursor& c, std::string_view field) { return read_fixed<uint32_t>(c, field); }
Result<uint64_t> read_u64(Cursor& c, std::string_view field) { return read_fixed<uint64_t>(c, field); }

Result<Uuid> read_uuid(Cursor& c, std::string_view field) {
  if (c.remaining() < 16) return fail(truncated(field));
  Uuid out;
  std::memcpy(out.data(), c.data.data() + c.pos, 16);
  c.pos += 16;
  return out;
}

Result<void> read_expected_u16(Cursor& c, std::string_view field, uint16_t expected) {
  return read_expected<uint16_t>(c, field, expected);
}
Result<void> read_expected_u32(Cursor& c, std::string_view field, uint32_t expected) {
  return read_expected<uint32_t>(c, field, expected);
}
Result<void> read_expected_u64(Cursor& c, std::string_view field, uint64_t expected) {
  return read_expected<uint64_t>(c, field, expected);
}

Result<uint64_t> read_uleb128(Cursor& c) {
  UlebDecoder dec;
  while (true) {
    if (c.at_end()) return fail(truncated("ULEB128"));
    switch (dec.feed(c.data[c.pos++])) {
      case UlebDecoder::Step::More:
        break;
      case UlebDecoder::Step::Done:
        return dec.value();
      case UlebDecoder::Step::Overflow:
        return fail(EngineError::data_corruption(std::string(kUlebOverflow)));
      case UlebDecoder::Step::NonCanonical:
        return fail(EngineError::data_corruption(std::string(kUlebNonCanonical)));
    }
  }
}

Result<Bytes> read_byte_string(Cursor& c) {
  auto n = read_uleb128(c);
  if (!n) return fail(std::move(n.error()));
  if (*n > c.remaining()) return fail(EngineError::data_corruption("truncated byte-string field"));
  Bytes out = c.data.subspan(c.pos, *n);
  c.pos += *n;
  return out;
}

Result<std::string> read_utf8_text(Cursor& c) {
  auto bytes = read_byte_string(c);
  if (!bytes) return fail(std::move(bytes.error()));
  if (auto fault = check_utf8(*bytes)) {
    return fail(EngineError::data_corruption(str_cat("invalid UTF-8 text: ", fault->describe())));
  }
  return std::string(as_text(*bytes));
}

std::string Utf8Fault::describe() const {
  if (valid_prefix == 0) return str_cat("incomplete utf-8 byte sequence from index ", index);
  return str_cat("invalid utf-8 sequence of ", valid_prefix, " bytes from index ", index);
}

std::optional<Utf8Fault> check_utf8(Bytes data) {
  const uint8_t* p = data.data();
  const size_t n = data.size();
  size_t i = 0;
  while (i < n) {
    // ASCII runs, eight bytes at a time.
    while (i + 8 <= n) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      if (word & 0x8080808080808080ULL) break;
      i += 8;
    }
    if (i >= n) break;
    const uint8_t b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    const auto seq = literal::utf8_sequence_at(as_text(data), i);
    if (seq.length == 0) return Utf8Fault{i, static_cast<uint8_t>(seq.invalid)};
    i += seq.length;
  }
  return std::nullopt;
}

}  // namespace brackwater::storage
