// The identifiers of the Terrain: texts built with the Terrain version, masks in lower-case
// hexadecimal of at least three digits, signatures as their Role identities joined by "-".
//   terrain-v1-profile-005, terrain-v1-isopleth-0ff, terrain-v1-signature-3-7,
//   terrain-v1-allocation-3-7-3-005 (signature 3-7, Role 3, mask 5).
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace brackwater::terrain {

inline constexpr uint16_t kTerrainVersion = 1;

// The decimal text of a number (Role identities are carried as text in the Terrain).
std::string decimal(uint64_t value);

std::string profile_id(uint16_t mask);
std::string isopleth_id(uint16_t mask);
std::string signature_id(std::span<const uint64_t> signature);
std::string allocation_id(std::span<const uint64_t> signature, uint64_t role, uint16_t mask);

}  // namespace brackwater::terrain
