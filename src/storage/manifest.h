// The manifest "manifest.bmf": the store's root of truth. Version 1 is 95 bytes: magic "POSITBMF",
// version 1.0, header length 48, the store UUID, two zero flag words, one active segment
// "log-0000000000000001.btl" with ordinal 1, the committed length and a CRC-32C of bytes 0..90.
//
// It is replaced, never edited: "manifest.next" is written, flushed and renamed over
// "manifest.bmf", then the store directory is flushed. A crash leaves the old or the new manifest
// whole. Decoding checks the length, then the checksum, then every field in order (`DataCorruption`).
#pragma once

#include <array>
#include <cstdint>

#include "storage/bytes.h"
#include "storage/fs.h"

namespace brackwater::storage {

inline constexpr std::string_view kManifestName = "manifest.bmf";
inline constexpr std::string_view kManifestNextName = "manifest.next";
inline constexpr std::string_view kLogSegmentName = "log-0000000000000001.btl";
inline constexpr size_t kManifestSize = 95;

struct ManifestV1 {
  Uuid uuid{};
  uint64_t committed_length = 0;
};

std::array<uint8_t, kManifestSize> encode_manifest(const Uuid& uuid, uint64_t committed_length);
Result<ManifestV1> decode_manifest(Bytes whole_file);

// Durably replaces the manifest of the store directory `dir` (`Persistence` on failure): `stage_manifest`
// then `publish_manifest`.
Result<void> write_manifest(Fs& fs, Fd dir, const Uuid& uuid, uint64_t committed_length);
// Writes and flushes "manifest.next" and returns it open. Opening never reads it, so this may run
// while the log's flush is in flight.
Result<UniqueFd> stage_manifest(Fs& fs, Fd dir, const Uuid& uuid, uint64_t committed_length);
// Renames the staged "manifest.next" over "manifest.bmf", flushes the directory and returns the
// staged descriptor, now that of "manifest.bmf". While a descriptor holds the manifest, the rename
// that replaces it only drops its name: the file is freed when that descriptor is closed.
Result<UniqueFd> publish_manifest(Fs& fs, Fd dir, UniqueFd staged);

}  // namespace brackwater::storage
