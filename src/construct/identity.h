// Identities: 64-bit numbers drawn from one pool for Roles, Things and Posits. Identity 0 is the
// genesis identity and never names a stored record.
#pragma once

#include <cstdint>

namespace brackwater::construct {

using Identity = uint64_t;

}  // namespace brackwater::construct
