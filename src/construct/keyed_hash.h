// A randomly keyed SipHash for maps whose keys are user-controlled (the proposition key of Posits).
//
// SipHash-c-d over a byte stream; the engine uses SipHash-1-3 under two 64-bit keys drawn once per
// process from the platform's random source, so hash flooding cannot be planned from outside.
#pragma once

#include <cstdint>
#include <string_view>

namespace brackwater::construct {

template <int C, int D>
class SipHasher {
 public:
  SipHasher(uint64_t k0, uint64_t k1)
      : v0_(k0 ^ 0x736f6d6570736575ULL),
        v1_(k1 ^ 0x646f72616e646f6dULL),
        v2_(k0 ^ 0x6c7967656e657261ULL),
        v3_(k1 ^ 0x7465646279746573ULL) {}

  void write(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    length_ += n;
    while (n > 0 && tail_len_ != 0) {
      tail_ |= uint64_t(*p++) << (8 * tail_len_);
      --n;
      if (++tail_len_ == 8) {
        absorb(tail_);
        tail_ = 0;
        tail_len_ = 0;
      }
    }
    while (n >= 8) {
      uint64_t word = 0;
      for (unsigned i = 0; i < 8; ++i) word |= uint64_t(p[i]) << (8 * i);
      absorb(word);
      p += 8;
      n -= 8;
    }
    for (size_t i = 0; i < n; ++i) tail_ |= uint64_t(p[i]) << (8 * tail_len_++);
  }

  void write_u8(uint8_t byte) { write_small(byte, 1); }
  void write_u32(uint32_t word) { write_small(word, 4); }

  void write_u64(uint64_t word) {
    if (tail_len_ == 0) {
      length_ += 8;
      absorb(word);
      return;
    }
    char bytes[8];
    for (unsigned i = 0; i < 8; ++i) bytes[i] = static_cast<char>(word >> (8 * i));
    write(std::string_view(bytes, 8));
  }

  uint64_t finish() const {
    SipHasher s = *this;
    uint64_t b = (uint64_t(s.length_ & 0xff) << 56) | s.tail_;
    s.absorb(b);
    s.v2_ ^= 0xff;
    for (int i = 0; i < D; ++i) s.round();
    return s.v0_ ^ s.v1_ ^ s.v2_ ^ s.v3_;
  }

 private:
  // Appends the `n` (1 to 7) low bytes of `bytes`, little-endian, as write() would.
  void write_small(uint64_t bytes, unsigned n) {
    length_ += n;
    tail_ |= bytes << (8 * tail_len_);
    tail_len_ += n;
    if (tail_len_ >= 8) {
      absorb(tail_);
      tail_len_ -= 8;
      tail_ = tail_len_ == 0 ? 0 : bytes >> (8 * (n - tail_len_));
    }
  }

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
  uint64_t tail_ = 0;
  unsigned tail_len_ = 0;
  uint64_t length_ = 0;
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
