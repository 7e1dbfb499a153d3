// The log segment: a 64-byte header ("POSITLOG", 1.0, header length 64, store UUID, ordinal 1, 20
// zero bytes, CRC-32C of bytes 0..59), then frames:
//   "BTR1" | version u8 | type u8 | flags u16 | sequence u64 | ULEB128 length n | payload | CRC-32C
// where the checksum covers every frame byte before it. A frame is at most 16,777,216 bytes.
//
// Frame-level read failures are `DataCorruption` wrapped as
// "segment log-0000000000000001.btl, byte offset {p}, record sequence {s|unknown}: {message}".
#pragma once

#include <array>
#include <cstring>
#include <expected>
#include <optional>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/bytes.h"
#include "storage/fs.h"
#include "storage/store.h"
#include "storage/text.h"

namespace brackwater::storage {

inline constexpr uint64_t kLogHeaderSize = 64;
inline constexpr uint64_t kMaxFrameSize = 16777216;
inline constexpr size_t kFramePrefixSize = 16;  // sync word to sequence, before the length

std::array<uint8_t, kLogHeaderSize> encode_log_header(const Uuid& uuid);
// Reads the first 64 bytes of the log and checks the metadata, then the checksum.
Result<void> verify_log_header(Fs& fs, Fd log, const Uuid& uuid);

// Appends the frame of `record` to `out`. `Internal` "record frame length overflow", `Persistence`
// "record frame is {} bytes; maximum is {}".
Result<void> encode_log_frame(const SequencedRecord& record, ByteWriter& out);
// The same for a payload held elsewhere.
Result<void> encode_log_frame(Bytes payload, uint64_t sequence, uint16_t flags, uint8_t type, uint8_t version,
                              ByteWriter& out);

// "segment {}, byte offset {}, record sequence {}: {}" (sequence empty: "unknown").
EngineError frame_error(uint64_t offset, std::optional<uint64_t> sequence, std::string_view message);
// The frame error "truncated frame: {io_text}".
EngineError truncated_frame(uint64_t offset, std::optional<uint64_t> sequence, std::string_view io_text);

// Sequential reads of a file from a start offset through a large buffer.
class BufferedReader {
 public:
  // Reads the file from `offset`; bytes at or after `end` are treated as past the end of file.
  BufferedReader(Fs& fs, Fd fd, uint64_t offset, uint64_t end = UINT64_MAX, size_t capacity = size_t(1) << 20);

  // Makes at least `n` bytes (n <= capacity) available at `data()`; fewer only at end of file. On a
  // read failure, the OS error's text.
  std::expected<size_t, std::string> fill(size_t n);
  const uint8_t* data() const { return buf_.data() + begin_; }
  size_t available() const { return end_ - begin_; }
  void consume(size_t n) { begin_ += n; }
  // Copies exactly dst.size() bytes; the I/O text on failure ("failed to fill whole buffer" at end
  // of file).
  std::expected<void, std::string> read_exact(std::span<uint8_t> dst);

 private:
  Fs& fs_;
  Fd fd_;
  uint64_t file_pos_;  // file offset of buf_[end_]
  uint64_t file_end_;
  std::vector<uint8_t> buf_;
  size_t begin_ = 0, end_ = 0;
};

// One checked frame. The payload was appended to the reader's caller-supplied arena.
struct FrameInfo {
  uint64_t offset = 0;
  uint64_t sequence = 0;
  uint64_t total_size = 0;
  size_t payload_offset = 0;  // within the arena
  size_t payload_size = 0;
  uint16_t flags = 0;
  uint8_t type = 0;
  uint8_t version = 0;
};

inline constexpr std::string_view kLogSyncWord = "BTR1";
// The largest frame end before the checksum that still leaves room for its four bytes in a u64.
inline constexpr uint64_t kMaxFrameEnd = UINT64_MAX - 4;

// What `fill(n)` hands to `check_frame_header`: the bytes from the frame's start, at least n of them
// (fewer only at the end of the committed data), or the text of the read error.
using FrameBytes = std::expected<Bytes, std::string>;

// Checks the header of the frame at `p` in order (sync word, version and flags, length, bounds);
// the frame's fields, its payload unread. `fill` makes the header's bytes available as it goes;
// `short_data` tells whether a failure came from bytes missing at the end of the data.
template <class Fill>
Result<FrameInfo> check_frame_header(uint64_t p, uint64_t committed, Fill&& fill, bool& short_data) {
  auto truncated = [p](std::optional<uint64_t> sequence, std::string_view io_text) {
    return fail(truncated_frame(p, sequence, io_text));
  };
  short_data = false;
  FrameBytes got = fill(kFramePrefixSize);
  if (!got) return truncated(std::nullopt, got.error());
  if (got->size() < kFramePrefixSize) {
    short_data = true;
    return truncated(std::nullopt, kFillFailure);
  }
  const uint8_t* h = got->data();
  if (std::memcmp(h, kLogSyncWord.data(), 4) != 0) return fail(frame_error(p, std::nullopt, "record sync word mismatch"));

  FrameInfo f;
  f.offset = p;
  f.version = h[4];
  f.type = h[5];
  f.flags = load_u16(h + 6);
  f.sequence = load_u64(h + 8);
  if (f.version != 1 || f.flags != 0) {
    return fail(frame_error(p, f.sequence, str_cat("unsupported frame version/flags ", f.version, "/", f.flags)));
  }

  UlebDecoder length;
  size_t prefix = kFramePrefixSize;
  for (bool more = true; more;) {
    got = fill(prefix + 1);
    if (!got) return truncated(f.sequence, got.error());
    if (got->size() < prefix + 1) {
      short_data = true;
      return truncated(f.sequence, kFillFailure);
    }
    switch (length.feed((*got)[prefix++])) {
      case UlebDecoder::Step::More:
        break;
      case UlebDecoder::Step::Done:
        more = false;
        break;
      case UlebDecoder::Step::Overflow:
        return fail(frame_error(p, f.sequence, kUlebOverflow));
      case UlebDecoder::Step::NonCanonical:
        return fail(frame_error(p, f.sequence, kUlebNonCanonical));
    }
  }
  const uint64_t n = length.value();
  if (n > kMaxFrameEnd - prefix) {
    return fail(EngineError::data_corruption(
        str_cat("log offset ", p, ", sequence ", f.sequence, ": frame length overflow")));
  }
  const uint64_t total = prefix + n + 4;
  if (total > kMaxFrameSize || p > committed || total > committed - p) {
    return fail(frame_error(p, f.sequence, str_cat("invalid frame length ", total)));
  }
  f.total_size = total;
  f.payload_size = static_cast<size_t>(n);
  return f;
}

// Reads frames from offset 64 up to the committed length, with every frame check in order. Bytes
// past the committed length are never read, so a log is judged the same before and after its
// uncommitted tail is cut.
class FrameReader {
 public:
  FrameReader(Fs& fs, Fd log, uint64_t committed_length);
  uint64_t offset() const { return offset_; }
  bool at_end() const { return offset_ >= committed_; }
  // Reads the next frame, appending its payload to `arena`.
  Result<FrameInfo> next(std::vector<uint8_t>& arena);

 private:
  BufferedReader reader_;
  uint64_t offset_;
  uint64_t committed_;
};

}  // namespace brackwater::storage
