#include "storage/manifest.h"

#include <gtest/gtest.h>

#include "storage/crc32c.h"
#include "storage/store_test_util.h"

namespace brackwater::storage {
namespace {

using B = std::vector<uint8_t>;

Uuid test_uuid() {
  Uuid u;
  for (int i = 0; i < 16; ++i) u[i] = static_cast<uint8_t>(0x10 + i);
  return u;
}

void append(B& b, std::initializer_list<uint8_t> bytes) { b.insert(b.end(), bytes); }
void append_text(B& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }
B sealed(B body) {
  testing::put_le(body, crc32c(body), 4);
  return body;
}

// The 91 bytes before the checksum, built field by field.
B manifest_body(uint64_t committed, std::string_view name = "log-0000000000000001.btl") {
  B b;
  append_text(b, "POSITBMF");
  append(b, {0x01, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00});
  for (uint8_t x : test_uuid()) b.push_back(x);
  b.insert(b.end(), 16, 0x00);  // required and optional flags
  append(b, {0x01, static_cast<uint8_t>(name.size())});
  append_text(b, name);
  testing::put_le(b, 1, 8);
  append(b, {0x00});
  testing::put_le(b, committed, 8);
  return b;
}

std::string decode_error(const B& file) {
  auto r = decode_manifest(file);
  if (r) return "ok";
  EXPECT_EQ(r.error().kind(), construct::ErrorKind::DataCorruption);
  return r.error().message();
}

TEST(Manifest, EncodesTheVersionOneLayout) {
  const auto bytes = encode_manifest(test_uuid(), 64);
  EXPECT_EQ(B(bytes.begin(), bytes.end()), sealed(manifest_body(64)));
  auto decoded = decode_manifest(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->uuid, test_uuid());
  EXPECT_EQ(decoded->committed_length, 64u);
  auto big = decode_manifest(encode_manifest(test_uuid(), 0x0102030405060708ULL));
  EXPECT_EQ(big->committed_length, 0x0102030405060708ULL);
}

TEST(Manifest, AnyFlippedByteIsAChecksumMismatch) {
  const auto good = encode_manifest(test_uuid(), 1234);
  for (size_t i = 0; i < good.size(); ++i) {
    B file(good.begin(), good.end());
    file[i] ^= 0x01;
    EXPECT_EQ(decode_error(file), "manifest checksum mismatch") << i;
  }
  EXPECT_EQ(decode_error(B(good.begin(), good.begin() + 51)), "manifest is truncated");
  EXPECT_EQ(decode_error(B{}), "manifest is truncated");
}

TEST(Manifest, FieldsAreCheckedInOrder) {
  auto with = [](size_t offset, std::initializer_list<uint8_t> bytes) {
    B body = manifest_body(64);
    std::copy(bytes.begin(), bytes.end(), body.begin() + offset);
    return sealed(body);
  };
  EXPECT_EQ(decode_error(with(0, {'X'})), "invalid manifest magic");
  EXPECT_EQ(decode_error(with(8, {0x02})), "invalid manifest major version: 2");
  EXPECT_EQ(decode_error(with(10, {0x01})), "invalid manifest minor version: 1");
  EXPECT_EQ(decode_error(with(12, {0x31})), "invalid manifest header length: 49");
  EXPECT_EQ(decode_error(with(32, {0x01})), "invalid required manifest flags: 1");
  EXPECT_EQ(decode_error(with(40, {0x00, 0x01})), "invalid optional manifest flags: 256");
  EXPECT_EQ(decode_error(with(48, {0x02})), "v1 implementation requires one log segment, found 2");
  EXPECT_EQ(decode_error(with(74, {0x02})), "invalid segment ordinal: 2");
  EXPECT_EQ(decode_error(with(82, {0x01})), "the only v1 log segment must be active");
  // Both at once: the earlier field wins.
  EXPECT_EQ(decode_error(with(8, {0x02, 0x00, 0x01})), "invalid manifest major version: 2");

  B longer = manifest_body(64);
  longer.push_back(0x00);
  EXPECT_EQ(decode_error(sealed(longer)), "manifest has trailing fields");
  EXPECT_EQ(decode_error(sealed(manifest_body(64, "log-1.btl"))), "unexpected log segment name 'log-1.btl'");

  // Only the fixed part and a checksum: the segment list is read out of the checksum bytes.
  B fixed = manifest_body(64);
  fixed.resize(48);
  const std::string shortest = decode_error(sealed(fixed));
  EXPECT_NE(shortest, "ok");
  EXPECT_NE(shortest, "manifest is truncated");
  EXPECT_NE(shortest, "manifest checksum mismatch");
}

}  // namespace
}  // namespace brackwater::storage
