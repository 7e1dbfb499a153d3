// SeaHash: the deterministic 64-bit hash of the engine's catalogs and indexes.
//
// The published algorithm from its published default seeds: 8-byte little-endian words go round-robin
// into four lanes, each absorbed through `diffuse`; a last partial word is zero-padded; the result is
// diffuse(a ^ b ^ c ^ d ^ total length). The streaming hasher gives the same value as the one-shot
// hash of the concatenated bytes, so a 64-bit word fed with write_u64 equals its 8 LE bytes.
#pragma once

#include <cstdint>
#include <string_view>

#include "construct/word_stream.h"

namespace brackwater::construct {

inline constexpr uint64_t kSeaHashSeeds[4] = {0x16f11fe89b0d677cULL, 0xb480a793d8e6c86cULL,
                                              0x6fe2e5aaf078ebc9ULL, 0x14f994a4c5259381ULL};

constexpr uint64_t seahash_diffuse(uint64_t x) {
  x *= 0x6eed0e9da4d94a4fULL;
  x ^= (x >> 32) >> (x >> 60);
  x *= 0x6eed0e9da4d94a4fULL;
  return x;
}

class SeaHasher : public WordStream<SeaHasher> {
 public:
  SeaHasher() = default;
  SeaHasher(uint64_t a, uint64_t b, uint64_t c, uint64_t d) : lanes_{a, b, c, d} {}

  uint64_t finish() const {
    uint64_t lanes[4] = {lanes_[0], lanes_[1], lanes_[2], lanes_[3]};
    if (tail_len() != 0) lanes[lane_] = seahash_diffuse(lanes[lane_] ^ tail());
    return seahash_diffuse(lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3] ^ length());
  }

 private:
  friend class WordStream<SeaHasher>;
  void absorb(uint64_t word) {
    lanes_[lane_] = seahash_diffuse(lanes_[lane_] ^ word);
    lane_ = (lane_ + 1) & 3;
  }

  uint64_t lanes_[4] = {kSeaHashSeeds[0], kSeaHashSeeds[1], kSeaHashSeeds[2], kSeaHashSeeds[3]};
  unsigned lane_ = 0;  // the lane the next full word goes into
};

// One-shot SeaHash of `bytes` under the default seeds.
uint64_t seahash(std::string_view bytes);

// The hash of one identity fed as a 64-bit word (identity-keyed maps).
inline uint64_t seahash_u64(uint64_t word) {
  // Equivalent to SeaHasher{}.write_u64(word).finish(), without the buffering.
  return seahash_diffuse(seahash_diffuse(kSeaHashSeeds[0] ^ word) ^ kSeaHashSeeds[1] ^ kSeaHashSeeds[2] ^
                         kSeaHashSeeds[3] ^ 8);
}

}  // namespace brackwater::construct
