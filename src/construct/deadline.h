// Cancel flags, durations and deadlines on the monotonic clock.
//
// A CancelFlag is a shared atomic boolean that long operations read with acquire ordering; nothing in
// the engine sets it. A Deadline is a monotonic instant held as whole seconds (signed 64-bit) and
// nanoseconds, so any timeout up to the 64-bit second range is representable exactly; adding a
// timeout is overflow-checked (Deadline::after gives no value when the sum does not fit). A
// deadline is reached when the monotonic clock reads at or after it (seconds, then nanoseconds).
//
// check_stop is the one stop check of every long operation: `Cancelled` when the flag is set, else
// `TimedOut` when a deadline exists and is reached; it reads the clock every time it is asked.
#pragma once

#include <atomic>
#include <compare>
#include <cstdint>
#include <memory>
#include <optional>

#include "construct/error.h"

namespace brackwater::construct {

using CancelFlag = std::shared_ptr<std::atomic<bool>>;

// A fresh flag that is clear.
inline CancelFlag make_cancel_flag() { return std::make_shared<std::atomic<bool>>(false); }

// A span of time: whole seconds and nanoseconds (normally below 1,000,000,000).
struct Duration {
  uint64_t secs = 0;
  uint32_t nanos = 0;

  bool operator==(const Duration&) const = default;
};

// A reading of the monotonic clock.
struct MonoInstant {
  int64_t secs = 0;
  uint32_t nanos = 0;

  auto operator<=>(const MonoInstant&) const = default;
};

// CLOCK_MONOTONIC now.
MonoInstant monotonic_now();

// `start` + `d`, or no value when the seconds overflow the signed 64-bit range.
std::optional<MonoInstant> checked_add(MonoInstant start, Duration d);

class Deadline {
 public:
  explicit Deadline(MonoInstant at) : at_(at) {}

  // The deadline `timeout` from now; no value when it cannot be represented.
  static std::optional<Deadline> after(Duration timeout);

  MonoInstant at() const { return at_; }
  bool reached() const { return reached_at(monotonic_now()); }
  bool reached_at(MonoInstant now) const { return now >= at_; }

 private:
  MonoInstant at_;
};

inline Result<void> check_stop(const std::atomic<bool>& cancel, const std::optional<Deadline>& deadline) {
  if (cancel.load(std::memory_order_acquire)) return fail(EngineError::cancelled());
  if (deadline && deadline->reached()) return fail(EngineError::timed_out());
  return {};
}

}  // namespace brackwater::construct
