// A randomly keyed SipHash for maps whose keys are user-controlled (the proposition key of Posits).
//
// SipHash-c-d over a byte stream; the engine uses SipHash-1-3 under two 64-bit keys drawn once per
// process from the platform's random source, so hash flooding cannot be planned from outside.
#pragma once

#include <cstdint>
#include <string_view>

#include "construct/word_stream.h"

namespace brackwater::construct {

template <int C, int D>
class SipHasher : public WordStream<SipHasher<C, D>> {
 public:
  SipHasher(uint64_t k0, uint64_t k1)
      : v0_(k0 ^ 0x736f6d6570736575ULL),
        v1_(k1 ^ 0x646f72616e646f6dULL),
        v2_(k0 ^ 0x6c7967656e657261ULL),
        v3_(k1 ^ 0x7465646279746573ULL) {}

  uint64_t finish() const {
    SipHasher s = *this;
    uint64_t b = (uint64_t(this->length() & 0xff) << 56) | this->tail();
    s.absorb(b);
    s.v2_ ^= 0xff;
    for (int i = 0; i < D; ++i) s.round();
    return s.v0_ ^ s.v1_ ^ s.v2_ ^ s.v3_;
  }

 private:
  friend class WordStream<SipHasher>;
  static uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }
  void round() {
    v0_ += v1_;
    v1_ = rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = rotl(v0_, 32);
    v2_ += v3_;
    v3_ = rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = rotl(v2_, 32);
  }
  void absorb(uint64_t m) {
    v3_ ^= m;
    for (int i = 0; i < C; ++i) round();
    v0_ ^= m;
  }

  uint64_t v0_, v1_, v2_, v3_;
};

// The two process-wide random keys (drawn on first use).
struct HashKeys {
  uint64_t k0, k1;
};
const HashKeys& process_hash_keys();

// SipHash-1-3 under the process keys.
class KeyedHasher : public SipHasher<1, 3> {
 public:
  KeyedHasher() : SipHasher<1, 3>(process_hash_keys().k0, process_hash_keys().k1) {}
};

}  // namespace brackwater::construct
