#include "storage/log_frame.h"

#include <gtest/gtest.h>

#include "storage/crc32c.h"
#include "storage/mem_fs_test_util.h"
#include "storage/store_test_util.h"

namespace brackwater::storage {
namespace {

using B = std::vector<uint8_t>;
using testing::put_le;

constexpr std::string_view kContext = "segment log-0000000000000001.btl, byte offset ";

Uuid test_uuid() {
  Uuid u;
  for (int i = 0; i < 16; ++i) u[i] = static_cast<uint8_t>(0xA0 + i);
  return u;
}

// A frame built byte by byte: prefix, the given length bytes, payload, checksum.
B hand_frame(uint8_t version, uint8_t type, uint16_t flags, uint64_t seq, B length_bytes, const B& payload) {
  B f = {'B', 'T', 'R', '1', version, type};
  put_le(f, flags, 2);
  put_le(f, seq, 8);
  f.insert(f.end(), length_bytes.begin(), length_bytes.end());
  f.insert(f.end(), payload.begin(), payload.end());
  put_le(f, crc32c(f), 4);
  return f;
}

B with_header(B frames) {
  auto header = encode_log_header(test_uuid());
  B out(header.begin(), header.end());
  out.insert(out.end(), frames.begin(), frames.end());
  return out;
}

// The message of the first frame read from header + `frames` within `committed` (default: all).
std::string first_frame_error(const B& frames, uint64_t committed = 0) {
  B log = with_header(frames);
  auto [fs, fd] = testing::MemFs::with_log(log);
  FrameReader reader(*fs, fd, committed ? committed : log.size());
  std::vector<uint8_t> arena;
  auto f = reader.next(arena);
  if (f) return "ok";
  EXPECT_EQ(f.error().kind(), construct::ErrorKind::DataCorruption);
  return f.error().message();
}

TEST(LogHeader, LayoutAndVerification) {
  B expected = {'P', 'O', 'S', 'I', 'T', 'L', 'O', 'G', 0x01, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00};
  for (uint8_t x : test_uuid()) expected.push_back(x);
  put_le(expected, 1, 8);
  expected.resize(60, 0);
  put_le(expected, crc32c(expected), 4);
  const auto header = encode_log_header(test_uuid());
  ASSERT_EQ(B(header.begin(), header.end()), expected);

  auto verify = [](const B& bytes, const Uuid& uuid) {
    auto [fs, fd] = testing::MemFs::with_log(bytes);
    auto r = verify_log_header(*fs, fd, uuid);
    return r ? std::string("ok") : r.error().display();
  };
  EXPECT_EQ(verify(expected, test_uuid()), "ok");
  Uuid other = test_uuid();
  other[15] ^= 1;
  EXPECT_EQ(verify(expected, other), "Data corruption: invalid log header metadata");
  B reserved = expected;
  reserved[45] = 1;  // checksum left stale: metadata is checked first
  EXPECT_EQ(verify(reserved, test_uuid()), "Data corruption: invalid log header metadata");
  B crc = expected;
  crc[62] ^= 0xFF;
  EXPECT_EQ(verify(crc, test_uuid()), "Data corruption: log header checksum mismatch");
  EXPECT_EQ(verify(B(expected.begin(), expected.begin() + 63), test_uuid()),
            "Persistence error: failed to fill whole buffer");
}

TEST(LogFrame, EncodesPrefixPayloadAndChecksum) {
  ByteWriter w;
  ASSERT_TRUE(encode_log_frame(SequencedRecord{{}, 7, 0, 255, 1}, w));
  EXPECT_EQ(w.bytes(), hand_frame(1, 255, 0, 7, {0x00}, {}));
  EXPECT_EQ(w.size(), 21u);

  ByteWriter w2;
  ASSERT_TRUE(encode_log_frame(SequencedRecord{{0xAA, 0xBB}, 0x0102030405060708ULL, 0, 3, 1}, w2));
  EXPECT_EQ(w2.bytes(), hand_frame(1, 3, 0, 0x0102030405060708ULL, {0x02}, {0xAA, 0xBB}));
}

TEST(LogFrame, SixteenMebibytesIsTheLimitBothWays) {
  // 16 prefix bytes + 4 length bytes + payload + 4 checksum bytes = 16,777,216.
  const size_t payload = 16777216 - 16 - 4 - 4;
  SequencedRecord rec{B(payload, 0x5A), 1, 0, 3, 1};
  ByteWriter w;
  ASSERT_TRUE(encode_log_frame(rec, w));
  EXPECT_EQ(w.size(), 16777216u);
  EXPECT_EQ(first_frame_error(w.bytes()), "ok");

  rec.payload.push_back(0);
  ByteWriter over;
  auto r = encode_log_frame(rec, over);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().display(), "Persistence error: record frame is 16777217 bytes; maximum is 16777216");
  EXPECT_EQ(over.size(), 0u);

  B length;
  for (uint64_t v = rec.payload.size(); v; v >>= 7) length.push_back(static_cast<uint8_t>((v & 0x7F) | (v >> 7 ? 0x80 : 0)));
  EXPECT_EQ(first_frame_error(hand_frame(1, 3, 0, 1, length, rec.payload)),
            std::string(kContext) + "64, record sequence 1: invalid frame length 16777217");
}

TEST(LogFrame, ReaderChecksInOrderWithContext) {
  const std::string at64 = std::string(kContext) + "64, record sequence ";
  const B good = hand_frame(1, 1, 0, 1, {0x03}, {1, 2, 3});

  B sync = good;
  sync[3] = '2';
  EXPECT_EQ(first_frame_error(sync), at64 + "unknown: record sync word mismatch");
  EXPECT_EQ(first_frame_error(hand_frame(1, 1, 1, 5, {0x00}, {})), at64 + "5: unsupported frame version/flags 1/1");
  EXPECT_EQ(first_frame_error(hand_frame(2, 1, 0, 5, {0x00}, {})), at64 + "5: unsupported frame version/flags 2/0");
  EXPECT_EQ(first_frame_error(hand_frame(1, 1, 0, 5, {0x80, 0x00}, {})), at64 + "5: non-canonical ULEB128");
  B huge(9, 0xFF);
  huge.push_back(0x01);
  EXPECT_EQ(first_frame_error(hand_frame(1, 1, 0, 5, huge, {})), "log offset 64, sequence 5: frame length overflow");
  huge.back() = 0x02;
  EXPECT_EQ(first_frame_error(hand_frame(1, 1, 0, 5, huge, {})), at64 + "5: ULEB128 overflow");
  // One byte past the committed length, although the bytes exist.
  EXPECT_EQ(first_frame_error(good, 64 + good.size() - 1), at64 + "1: invalid frame length 24");
  B bad_crc = good;
  bad_crc[18] ^= 1;
  EXPECT_EQ(first_frame_error(bad_crc), at64 + "1: record checksum mismatch");

  // A file shorter than the committed length.
  const uint64_t beyond = 64 + good.size() + 100;
  EXPECT_EQ(first_frame_error(B(good.begin(), good.begin() + 10), beyond),
            at64 + "unknown: truncated frame: failed to fill whole buffer");
  EXPECT_EQ(first_frame_error(B(good.begin(), good.begin() + 16), beyond),
            at64 + "1: truncated frame: failed to fill whole buffer");
  EXPECT_EQ(first_frame_error(B(good.begin(), good.begin() + 19), beyond),
            at64 + "1: truncated frame: failed to fill whole buffer");
  EXPECT_EQ(first_frame_error(B(good.begin(), good.end() - 1), beyond),
            at64 + "1: truncated frame: failed to fill whole buffer");
}

TEST(LogFrame, ReaderWalksConsecutiveFramesAcrossBufferRefills) {
  B frames;
  for (uint64_t s = 1; s <= 3000; ++s) {
    ByteWriter w;
    ASSERT_TRUE(encode_log_frame(SequencedRecord{B(s % 700, static_cast<uint8_t>(s)), s, 0, 3, 1}, w));
    frames.insert(frames.end(), w.bytes().begin(), w.bytes().end());
  }
  B log = with_header(frames);
  auto [fs, fd] = testing::MemFs::with_log(log);
  FrameReader reader(*fs, fd, log.size());
  std::vector<uint8_t> arena;
  uint64_t s = 0;
  while (!reader.at_end()) {
    auto f = reader.next(arena);
    ASSERT_TRUE(f) << f.error().message();
    ++s;
    ASSERT_EQ(f->sequence, s);
    ASSERT_EQ(f->payload_size, s % 700);
    if (f->payload_size) {
      ASSERT_EQ(arena[f->payload_offset], static_cast<uint8_t>(s));
    }
  }
  EXPECT_EQ(s, 3000u);
  EXPECT_EQ(reader.offset(), log.size());
}

}  // namespace
}  // namespace brackwater::storage
