#include "python/timeout.h"

#include <cmath>
#include <cstdint>

namespace brackwater::python {
namespace {

constexpr uint32_t kNanosPerSecond = 1'000'000'000;

// round(fraction * 1e9) with ties to even, exactly, for 0 <= fraction < 1.
uint64_t fraction_to_nanos(double fraction) {
  if (fraction == 0.0) return 0;
  int exponent = 0;
  const double mantissa = std::frexp(fraction, &exponent);  // fraction = mantissa * 2^exponent
  // fraction = m / 2^shift with m an integer below 2^53.
  const auto m = static_cast<uint64_t>(std::ldexp(mantissa, 53));
  const int shift = 53 - exponent;
  // m * 1e9 < 2^83; beyond a shift of 84 the product is below a quarter of a nanosecond.
  if (shift > 84) return 0;
  const unsigned __int128 product = static_cast<unsigned __int128>(m) * kNanosPerSecond;
  const unsigned __int128 one = 1;
  uint64_t quotient = static_cast<uint64_t>(product >> shift);
  const unsigned __int128 remainder = product & ((one << shift) - 1);
  const unsigned __int128 half = one << (shift - 1);
  if (remainder > half || (remainder == half && (quotient & 1) != 0)) ++quotient;
  return quotient;
}

}  // namespace

std::expected<construct::Duration, std::string> seconds_to_duration(double seconds, std::string_view name) {
  if (!std::isfinite(seconds) || !(seconds > 0.0)) {
    std::string message(name);
    message.append(" must be a finite positive number of seconds");
    return std::unexpected(std::move(message));
  }
  if (seconds >= 18446744073709551616.0) {  // 2^64
    std::string message(name);
    message.append(" is outside the supported duration range");
    return std::unexpected(std::move(message));
  }
  const double whole = std::floor(seconds);
  construct::Duration duration;
  duration.secs = static_cast<uint64_t>(whole);
  const uint64_t nanos = fraction_to_nanos(seconds - whole);  // the subtraction is exact
  if (nanos >= kNanosPerSecond) {
    duration.secs += 1;  // cannot overflow: a value this close to 2^64 has no fraction
    duration.nanos = 0;
  } else {
    duration.nanos = static_cast<uint32_t>(nanos);
  }
  return duration;
}

}  // namespace brackwater::python
