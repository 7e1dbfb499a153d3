// Byte-level encodings of the store: a growable little-endian writer, a bounds-checked read cursor
// with named field readers, ULEB128, ZigZag and the UTF-8 check.
//
// Every reader failure is `DataCorruption` with a fixed message: "truncated {field}",
// "invalid {field}: {value}", "truncated ULEB128", "ULEB128 overflow", "non-canonical ULEB128",
// "truncated byte-string field", "invalid UTF-8 text: {description}". Readers never read past the
// slice they were given; a failed read leaves the cursor where it was at the failing field.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "construct/error.h"

namespace brackwater::storage {

using construct::EngineError;
using construct::Result;
using construct::fail;

using Uuid = std::array<uint8_t, 16>;
using Bytes = std::span<const uint8_t>;

inline Bytes as_bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}
inline std::string_view as_text(Bytes bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Writes the shortest ULEB128 form of `v` (1 to 10 bytes) at `out`; returns its length.
inline size_t encode_uleb128(uint64_t v, uint8_t* out) {
  size_t n = 0;
  do {
    uint8_t byte = v & 0x7F;
    v >>= 7;
    out[n++] = v ? (byte | 0x80) : byte;
  } while (v != 0);
  return n;
}

// Appends little-endian fields to a byte buffer.
class ByteWriter {
 public:
  ByteWriter() = default;
  explicit ByteWriter(std::vector<uint8_t> reuse) : bytes_(std::move(reuse)) { bytes_.clear(); }

  void put_u8(uint8_t v) { bytes_.push_back(v); }
  void put_u16(uint16_t v) { put_le(v, 2); }
  void put_u32(uint32_t v) { put_le(v, 4); }
  void put_u64(uint64_t v) { put_le(v, 8); }
  void put_raw(Bytes data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
  void put_uleb128(uint64_t v) {
    uint8_t tmp[10];
    put_raw(Bytes(tmp, encode_uleb128(v, tmp)));
  }
  void put_byte_string(Bytes data) {
    put_uleb128(data.size());
    put_raw(data);
  }

  size_t size() const { return bytes_.size(); }
  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  void put_le(uint64_t v, int width) {
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  std::vector<uint8_t> bytes_;
};

// Little-endian loads from raw memory (callers check the bounds).
inline uint16_t load_u16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t load_u32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t load_u64(const uint8_t* p) { return uint64_t(load_u32(p)) | (uint64_t(load_u32(p + 4)) << 32); }
inline void store_u32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Incremental ULEB128 decoding, one byte at a time (shared by the cursor and the frame reader).
class UlebDecoder {
 public:
  enum class Step { More, Done, Overflow, NonCanonical };
  Step feed(uint8_t byte);
  uint64_t value() const { return value_; }
  unsigned length() const { return count_; }

 private:
  uint64_t value_ = 0;
  unsigned count_ = 0;
};

// The messages of the ULEB128 reader.
inline constexpr std::string_view kUlebOverflow = "ULEB128 overflow";
inline constexpr std::string_view kUlebNonCanonical = "non-canonical ULEB128";

// A read position within one byte slice.
struct Cursor {
  Bytes data;
  uint64_t pos = 0;

  explicit Cursor(Bytes d) : data(d) {}
  uint64_t remaining() const { return data.size() - pos; }
  bool at_end() const { return pos >= data.size(); }
};

Result<uint8_t> read_u8(Cursor& c, std::string_view field);
Result<uint16_t> read_u16(Cursor& c, std::string_view field);
Result<uint32_t> read_u32(Cursor& c, std::string_view field);
Result<uint64_t> read_u64(Cursor& c, std::string_view field);
Result<Uuid> read_uuid(Cursor& c, std::string_view field);
// Reads the field and fails with "invalid {field}: {value}" unless it equals `expected`.
Result<void> read_expected_u16(Cursor& c, std::string_view field, uint16_t expected);
Result<void> read_expected_u32(Cursor& c, std::string_view field, uint32_t expected);
Result<void> read_expected_u64(Cursor& c, std::string_view field, uint64_t expected);
Result<uint64_t> read_uleb128(Cursor& c);
// A ULEB128 length then that many bytes, as a view into the cursor's slice.
Result<Bytes> read_byte_string(Cursor& c);
// A byte string that must be valid UTF-8, as an owned text.
Result<std::string> read_utf8_text(Cursor& c);

inline uint64_t zigzag_encode(int64_t n) { return (uint64_t(n) << 1) ^ uint64_t(n >> 63); }
inline int64_t zigzag_decode(uint64_t u) { return int64_t((u >> 1) ^ (0 - (u & 1))); }

// The first invalid UTF-8 sequence of a byte range, described as the standard decoder does.
struct Utf8Fault {
  uint64_t index = 0;
  uint8_t valid_prefix = 0;  // 1 to 3; 0 when the input ends inside a still-valid sequence
  // "invalid utf-8 sequence of {n} bytes from index {i}" or
  // "incomplete utf-8 byte sequence from index {i}".
  std::string describe() const;
};
std::optional<Utf8Fault> check_utf8(Bytes data);

}  // namespace brackwater::storage
