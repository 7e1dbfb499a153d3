#include "construct/seahash.h"

#include <cstring>

namespace brackwater::construct {

void SeaHasher::write(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  written_ += n;
  while (n > 0 && tail_len_ != 0) {
    tail_ |= uint64_t(*p++) << (8 * tail_len_);
    --n;
    if (++tail_len_ == 8) {
      push(tail_);
      tail_ = 0;
      tail_len_ = 0;
    }
  }
  while (n >= 8) {
    uint64_t word = 0;
    for (unsigned i = 0; i < 8; ++i) word |= uint64_t(p[i]) << (8 * i);
    push(word);
    p += 8;
    n -= 8;
  }
  for (size_t i = 0; i < n; ++i) tail_ |= uint64_t(p[i]) << (8 * tail_len_++);
}

void SeaHasher::write_u8(uint8_t byte) {
  char c = static_cast<char>(byte);
  write(std::string_view(&c, 1));
}

void SeaHasher::write_u64(uint64_t word) {
  if (tail_len_ == 0) {
    written_ += 8;
    push(word);
    return;
  }
  char bytes[8];
  for (unsigned i = 0; i < 8; ++i) bytes[i] = static_cast<char>(word >> (8 * i));
  write(std::string_view(bytes, 8));
}

uint64_t SeaHasher::finish() const {
  uint64_t lanes[4] = {lanes_[0], lanes_[1], lanes_[2], lanes_[3]};
  if (tail_len_ != 0) lanes[lane_] = seahash_diffuse(lanes[lane_] ^ tail_);
  return seahash_diffuse(lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3] ^ written_);
}

uint64_t seahash(std::string_view bytes) {
  SeaHasher h;
  h.write(bytes);
  return h.finish();
}

}  // namespace brackwater::construct
