#include "storage/crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <nmmintrin.h>
#elif defined(__aarch64__) && defined(__linux__)
#include <arm_acle.h>
#include <sys/auxv.h>
#ifndef HWCAP_CRC32
#define HWCAP_CRC32 (1 << 7)
#endif
#endif

namespace brackwater::storage {

namespace {

constexpr uint32_t kPolynomial = 0x82F63B78;

// Slicing-by-8 tables: kTables[0] is the classic byte table.
constexpr std::array<std::array<uint32_t, 256>, 8> make_tables() {
  std::array<std::array<uint32_t, 256>, 8> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (size_t s = 1; s < 8; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  }
  return t;
}

constexpr auto kTables = make_tables();

uint32_t portable_state(uint32_t state, const uint8_t* p, size_t n) {
  while (n >= 8) {
    uint32_t lo = (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24) ^ state;
    state = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    p += 8;
    n -= 8;
  }
  while (n--) state = (state >> 8) ^ kTables[0][(state ^ *p++) & 0xFF];
  return state;
}

#if defined(__x86_64__)
__attribute__((target("sse4.2"))) uint32_t hardware_state(uint32_t state, const uint8_t* p, size_t n) {
  uint64_t s = state;
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    s = _mm_crc32_u64(s, word);
    p += 8;
    n -= 8;
  }
  uint32_t s32 = static_cast<uint32_t>(s);
  while (n--) s32 = _mm_crc32_u8(s32, *p++);
  return s32;
}
bool detect_hardware() { return __builtin_cpu_supports("sse4.2"); }
#elif defined(__aarch64__) && defined(__linux__)
__attribute__((target("+crc"))) uint32_t hardware_state(uint32_t state, const uint8_t* p, size_t n) {
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    state = __crc32cd(state, word);
    p += 8;
    n -= 8;
  }
  while (n--) state = __crc32cb(state, *p++);
  return state;
}
bool detect_hardware() { return (getauxval(AT_HWCAP) & HWCAP_CRC32) != 0; }
#else
uint32_t hardware_state(uint32_t state, const uint8_t* p, size_t n) { return portable_state(state, p, n); }
bool detect_hardware() { return false; }
#endif

using StateFn = uint32_t (*)(uint32_t, const uint8_t*, size_t);

StateFn select() { return detect_hardware() ? &hardware_state : &portable_state; }

}  // namespace

uint32_t crc32c_extend(uint32_t crc, std::span<const uint8_t> data) {
  static const StateFn fn = select();
  return ~fn(~crc, data.data(), data.size());
}

uint32_t crc32c_extend_portable(uint32_t crc, std::span<const uint8_t> data) {
  return ~portable_state(~crc, data.data(), data.size());
}

bool crc32c_hardware_available() { return detect_hardware(); }

}  // namespace brackwater::storage
