#include "construct/deadline.h"

#include <time.h>

#include <limits>

namespace brackwater::construct {

namespace {
constexpr uint64_t kNanosPerSecond = 1'000'000'000;
}

MonoInstant monotonic_now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return MonoInstant{static_cast<int64_t>(ts.tv_sec), static_cast<uint32_t>(ts.tv_nsec)};
}

std::optional<MonoInstant> checked_add(MonoInstant start, Duration d) {
  uint64_t nanos = uint64_t{start.nanos} + uint64_t{d.nanos};
  uint64_t carry = nanos / kNanosPerSecond;
  nanos %= kNanosPerSecond;
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  if (d.secs > kMax) return std::nullopt;
  int64_t secs = 0;
  if (__builtin_add_overflow(start.secs, static_cast<int64_t>(d.secs), &secs)) return std::nullopt;
  if (__builtin_add_overflow(secs, static_cast<int64_t>(carry), &secs)) return std::nullopt;
  return MonoInstant{secs, static_cast<uint32_t>(nanos)};
}

std::optional<Deadline> Deadline::after(Duration timeout) {
  auto at = checked_add(monotonic_now(), timeout);
  if (!at) return std::nullopt;
  return Deadline(*at);
}

}  // namespace brackwater::construct
