#include "storage/manifest.h"

#include <cstring>

#include "storage/crc32c.h"
#include "storage/text.h"

namespace brackwater::storage {

namespace {

constexpr std::string_view kMagic = "POSITBMF";
constexpr size_t kFixedLength = 48;

EngineError corrupt(std::string message) { return EngineError::data_corruption(std::move(message)); }

}  // namespace

std::array<uint8_t, kManifestSize> encode_manifest(const Uuid& uuid, uint64_t committed_length) {
  ByteWriter w;
  w.put_raw(as_bytes(kMagic));
  w.put_u16(1);
  w.put_u16(0);
  w.put_u32(kFixedLength);
  w.put_raw(uuid);
  w.put_u64(0);
  w.put_u64(0);
  w.put_uleb128(1);
  w.put_byte_string(as_bytes(kLogSegmentName));
  w.put_u64(1);
  w.put_u8(0);
  w.put_u64(committed_length);
  w.put_u32(crc32c(w.bytes()));
  std::array<uint8_t, kManifestSize> out;
  std::memcpy(out.data(), w.bytes().data(), kManifestSize);
  return out;
}

Result<ManifestV1> decode_manifest(Bytes file) {
  if (file.size() < kFixedLength + 4) return fail(corrupt("manifest is truncated"));
  const size_t body = file.size() - 4;
  if (crc32c(file.first(body)) != load_u32(file.data() + body)) return fail(corrupt("manifest checksum mismatch"));
  if (as_text(file.first(8)) != kMagic) return fail(corrupt("invalid manifest magic"));

  Cursor c(file);
  c.pos = 8;
  ManifestV1 out;
  if (auto r = read_expected_u16(c, "manifest major version", 1); !r) return fail(std::move(r.error()));
  if (auto r = read_expected_u16(c, "manifest minor version", 0); !r) return fail(std::move(r.error()));
  if (auto r = read_expected_u32(c, "manifest header length", kFixedLength); !r) return fail(std::move(r.error()));
  auto uuid = read_uuid(c, "store UUID");
  if (!uuid) return fail(std::move(uuid.error()));
  out.uuid = *uuid;
  if (auto r = read_expected_u64(c, "required manifest flags", 0); !r) return fail(std::move(r.error()));
  if (auto r = read_expected_u64(c, "optional manifest flags", 0); !r) return fail(std::move(r.error()));

  auto count = read_uleb128(c);
  if (!count) return fail(std::move(count.error()));
  if (*count != 1) return fail(corrupt(str_cat("v1 implementation requires one log segment, found ", *count)));
  auto name = read_utf8_text(c);
  if (!name) return fail(std::move(name.error()));
  if (*name != kLogSegmentName) return fail(corrupt(str_cat("unexpected log segment name '", *name, "'")));
  if (auto r = read_expected_u64(c, "segment ordinal", 1); !r) return fail(std::move(r.error()));
  auto sealed = read_u8(c, "segment sealed flag");
  if (!sealed) return fail(std::move(sealed.error()));
  if (*sealed != 0) return fail(corrupt("the only v1 log segment must be active"));
  auto committed = read_u64(c, "committed length");
  if (!committed) return fail(std::move(committed.error()));
  out.committed_length = *committed;
  if (c.pos != body) return fail(corrupt("manifest has trailing fields"));
  return out;
}

Result<UniqueFd> stage_manifest(Fs& fs, Fd dir, const Uuid& uuid, uint64_t committed_length) {
  const auto bytes = encode_manifest(uuid, committed_length);
  auto fd = fs.open_at(dir, std::string(kManifestNextName), OpenMode::WriteTruncate);
  if (!fd) return fail(os_error(fd.error()));
  UniqueFd next(&fs, *fd);
  if (auto r = write_all(fs, next.get(), 0, bytes); !r) return fail(std::move(r.error()));
  if (auto r = fs.sync(next.get()); !r) return fail(os_error(r.error()));
  return next;
}

Result<UniqueFd> publish_manifest(Fs& fs, Fd dir, UniqueFd staged) {
  if (auto r = fs.rename_at(dir, std::string(kManifestNextName), std::string(kManifestName)); !r) {
    return fail(os_error(r.error()));
  }
  if (auto r = fs.sync(dir); !r) return fail(os_error(r.error()));
  return staged;
}

Result<void> write_manifest(Fs& fs, Fd dir, const Uuid& uuid, uint64_t committed_length) {
  auto staged = stage_manifest(fs, dir, uuid, committed_length);
  if (!staged) return fail(std::move(staged.error()));
  auto published = publish_manifest(fs, dir, std::move(*staged));
  if (!published) return fail(std::move(published.error()));
  return {};
}

}  // namespace brackwater::storage
