// Little-endian word buffering shared by the streaming 64-bit hashers.
//
// WordStream<Derived> turns a stream of bytes into 8-byte little-endian words and hands each full word
// to `Derived::absorb(uint64_t)`. The bytes of a partial word wait in `tail()` (its length in
// `tail_len()`, 0 to 7) until the next write completes them or the hasher finishes; `length()` counts
// every byte fed. Writing a number is the same as writing its little-endian bytes, so a stream cut
// anywhere gives the same words as the concatenated bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brackwater::construct {

template <class Derived>
class WordStream {
 public:
  void write(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t n = bytes.size();
    length_ += n;
    while (n > 0 && tail_len_ != 0) {
      tail_ |= uint64_t(*p++) << (8 * tail_len_);
      --n;
      if (++tail_len_ == 8) {
        self().absorb(tail_);
        tail_ = 0;
        tail_len_ = 0;
      }
    }
    while (n >= 8) {
      uint64_t word = 0;
      for (unsigned i = 0; i < 8; ++i) word |= uint64_t(p[i]) << (8 * i);
      self().absorb(word);
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
      self().absorb(word);
      return;
    }
    write_small(word, 8);
  }

 protected:
  uint64_t tail() const { return tail_; }
  unsigned tail_len() const { return tail_len_; }
  uint64_t length() const { return length_; }

 private:
  Derived& self() { return static_cast<Derived&>(*this); }

  // Appends the `n` (1 to 8) low bytes of `bytes`, little-endian, as write() would.
  void write_small(uint64_t bytes, unsigned n) {
    length_ += n;
    tail_ |= bytes << (8 * tail_len_);
    tail_len_ += n;
    if (tail_len_ >= 8) {
      self().absorb(tail_);
      tail_len_ -= 8;
      tail_ = tail_len_ == 0 ? 0 : bytes >> (8 * (n - tail_len_));
    }
  }

  uint64_t tail_ = 0;
  unsigned tail_len_ = 0;
  uint64_t length_ = 0;
};

}  // namespace brackwater::construct
