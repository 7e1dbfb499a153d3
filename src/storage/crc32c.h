// CRC-32C (Castagnoli, RFC 3720): reflected polynomial 0x82F63B78, initial value and final XOR
// 0xFFFFFFFF. crc32c("123456789") == 0xE3069283 and crc32c("") == 0. Uses the CPU's CRC-32C
// instructions when present (x86-64 SSE4.2, AArch64 CRC), a table-driven loop otherwise.
#pragma once

#include <cstdint>
#include <span>

namespace brackwater::storage {

// Continues a finished checksum `crc` over `data` (crc32c_extend(crc32c(a), b) == crc32c(a ++ b)).
uint32_t crc32c_extend(uint32_t crc, std::span<const uint8_t> data);

inline uint32_t crc32c(std::span<const uint8_t> data) { return crc32c_extend(0, data); }

// The portable implementation, always available (tests compare both paths).
uint32_t crc32c_extend_portable(uint32_t crc, std::span<const uint8_t> data);
// Whether crc32c_extend uses CPU instructions on this machine.
bool crc32c_hardware_available();

}  // namespace brackwater::storage
