#include "storage/log_frame.h"

#include <cstring>
#include <limits>

#include "storage/crc32c.h"
#include "storage/manifest.h"
#include "storage/text.h"

namespace brackwater::storage {

namespace {

constexpr std::string_view kLogMagic = "POSITLOG";

}  // namespace

std::array<uint8_t, kLogHeaderSize> encode_log_header(const Uuid& uuid) {
  std::array<uint8_t, kLogHeaderSize> out{};
  ByteWriter w;
  w.put_raw(as_bytes(kLogMagic));
  w.put_u16(1);
  w.put_u16(0);
  w.put_u32(kLogHeaderSize);
  w.put_raw(uuid);
  w.put_u64(1);
  std::memcpy(out.data(), w.bytes().data(), w.size());  // bytes 40..59 stay zero
  store_u32(out.data() + 60, crc32c(std::span<const uint8_t>(out.data(), 60)));
  return out;
}

Result<void> verify_log_header(Fs& fs, Fd log, const Uuid& uuid) {
  std::array<uint8_t, kLogHeaderSize> h;
  if (auto r = read_exact(fs, log, 0, h); !r) return fail(EngineError::persistence(std::move(r.error())));
  bool reserved_zero = true;
  for (size_t i = 40; i < 60; ++i) reserved_zero = reserved_zero && h[i] == 0;
  const bool metadata_ok = std::memcmp(h.data(), kLogMagic.data(), 8) == 0 && load_u16(&h[8]) == 1 &&
                           load_u16(&h[10]) == 0 && load_u32(&h[12]) == kLogHeaderSize &&
                           std::memcmp(&h[16], uuid.data(), 16) == 0 && load_u64(&h[32]) == 1 && reserved_zero;
  if (!metadata_ok) return fail(EngineError::data_corruption("invalid log header metadata"));
  if (crc32c(std::span<const uint8_t>(h.data(), 60)) != load_u32(&h[60])) {
    return fail(EngineError::data_corruption("log header checksum mismatch"));
  }
  return {};
}

Result<void> encode_log_frame(Bytes payload, uint64_t sequence, uint16_t flags, uint8_t type, uint8_t version,
                              ByteWriter& out) {
  // The prefix is built apart so that a refused frame leaves `out` untouched.
  uint8_t prefix[kFramePrefixSize + 10];
  std::memcpy(prefix, kLogSyncWord.data(), 4);
  prefix[4] = version;
  prefix[5] = type;
  prefix[6] = static_cast<uint8_t>(flags);
  prefix[7] = static_cast<uint8_t>(flags >> 8);
  for (int i = 0; i < 8; ++i) prefix[8 + i] = static_cast<uint8_t>(sequence >> (8 * i));
  const size_t len = kFramePrefixSize + encode_uleb128(payload.size(), prefix + kFramePrefixSize);
  if (payload.size() > kMaxFrameEnd - len) return fail(EngineError::internal("record frame length overflow"));
  const uint64_t end = len + payload.size();
  if (end + 4 > kMaxFrameSize) {
    return fail(EngineError::persistence(
        str_cat("record frame is ", end + 4, " bytes; maximum is ", kMaxFrameSize)));
  }
  const Bytes head(prefix, len);
  out.put_raw(head);
  out.put_raw(payload);
  out.put_u32(crc32c_extend(crc32c(head), payload));
  return {};
}

Result<void> encode_log_frame(const SequencedRecord& record, ByteWriter& out) {
  return encode_log_frame(record.payload, record.sequence, record.flags, record.type, record.version, out);
}

EngineError frame_error(uint64_t offset, std::optional<uint64_t> sequence, std::string_view message) {
  if (sequence) {
    return EngineError::data_corruption(str_cat("segment ", kLogSegmentName, ", byte offset ", offset,
                                                ", record sequence ", *sequence, ": ", message));
  }
  return EngineError::data_corruption(
      str_cat("segment ", kLogSegmentName, ", byte offset ", offset, ", record sequence unknown: ", message));
}

EngineError truncated_frame(uint64_t offset, std::optional<uint64_t> sequence, std::string_view io_text) {
  return frame_error(offset, sequence, str_cat("truncated frame: ", io_text));
}

BufferedReader::BufferedReader(Fs& fs, Fd fd, uint64_t offset, uint64_t end, size_t capacity)
    : fs_(fs), fd_(fd), file_pos_(offset), file_end_(end), buf_(capacity) {}

std::expected<size_t, std::string> BufferedReader::fill(size_t n) {
  if (available() >= n) return available();
  if (begin_ > 0) {
    std::memmove(buf_.data(), buf_.data() + begin_, available());
    end_ -= begin_;
    begin_ = 0;
  }
  while (end_ < n && file_pos_ < file_end_) {
    const uint64_t left = file_end_ - file_pos_;
    auto got = fs_.read_at(fd_, file_pos_, std::span<uint8_t>(buf_).subspan(end_, std::min<uint64_t>(buf_.size() - end_, left)));
    if (!got) {
      if (got.error() == EINTR) continue;
      return std::unexpected(os_error_text(got.error()));
    }
    if (*got == 0) break;
    end_ += *got;
    file_pos_ += *got;
  }
  return available();
}

std::expected<void, std::string> BufferedReader::read_exact(std::span<uint8_t> dst) {
  if (dst.empty()) return {};
  size_t take = std::min(available(), dst.size());
  std::memcpy(dst.data(), data(), take);
  consume(take);
  dst = dst.subspan(take);
  if (dst.empty()) return {};
  if (dst.size() >= buf_.size() / 2) {
    // Large remainder: read straight into the destination.
    if (file_pos_ > file_end_ || dst.size() > file_end_ - file_pos_) return std::unexpected(std::string(kFillFailure));
    auto r = storage::read_exact(fs_, fd_, file_pos_, dst);
    if (!r) return r;
    file_pos_ += dst.size();
    return {};
  }
  auto got = fill(dst.size());
  if (!got) return std::unexpected(std::move(got.error()));
  if (*got < dst.size()) return std::unexpected(std::string(kFillFailure));
  std::memcpy(dst.data(), data(), dst.size());
  consume(dst.size());
  return {};
}

FrameReader::FrameReader(Fs& fs, Fd log, uint64_t committed_length)
    : reader_(fs, log, kLogHeaderSize, committed_length), offset_(kLogHeaderSize), committed_(committed_length) {}

Result<FrameInfo> FrameReader::next(std::vector<uint8_t>& arena) {
  const uint64_t p = offset_;
  bool short_data = false;
  auto header = check_frame_header(
      p, committed_,
      [this](size_t n) -> FrameBytes {
        auto got = reader_.fill(n);
        if (!got) return std::unexpected(std::move(got.error()));
        return Bytes(reader_.data(), *got);
      },
      short_data);
  if (!header) return header;
  FrameInfo f = *header;
  const size_t prefix = static_cast<size_t>(f.total_size - f.payload_size - 4);

  uint32_t crc = crc32c(std::span<const uint8_t>(reader_.data(), prefix));
  reader_.consume(prefix);
  f.payload_offset = arena.size();
  arena.resize(arena.size() + f.payload_size);
  std::span<uint8_t> payload(arena.data() + f.payload_offset, f.payload_size);
  if (auto r = reader_.read_exact(payload); !r) {
    arena.resize(f.payload_offset);
    return fail(truncated_frame(p, f.sequence, r.error()));
  }
  crc = crc32c_extend(crc, payload);
  uint8_t stored[4];
  if (auto r = reader_.read_exact(stored); !r) {
    arena.resize(f.payload_offset);
    return fail(truncated_frame(p, f.sequence, r.error()));
  }
  if (crc != load_u32(stored)) {
    arena.resize(f.payload_offset);
    return fail(frame_error(p, f.sequence, "record checksum mismatch"));
  }
  offset_ = p + f.total_size;
  return f;
}

}  // namespace brackwater::storage
