// The budget of one statement: the bytes its working structures hold, and the work it does between
// two stop checks.
//
// Bytes. Every structure whose size a statement's input decides (row tables and their spares,
// sort keys, distinct sets, rendered rows, products, kept assertions) holds a Charge on the
// budget and charges its bytes before it allocates them. Past the budget's maximum the charge fails
// with `ResourceLimit` "search memory" and nothing is allocated; the bytes already held stay held.
// The maximum, kStatementBytes, keeps a statement's peak under about 1.5 GiB beside the database:
// everything a statement grows with its input is charged, and what is not (the parsed and compiled
// statement, scratch of one pattern) grows only with the script's text.
//
// Work. Loops count their work in units, a unit being about one small step: a cell copied, two keys
// compared, an element moved, a reference checked, 64 bytes hashed or copied. A larger step counts
// as the small steps it holds, so the units follow the time whatever the width of a row or the size
// of a value. After kWorkPerCheck units the budget runs its stop condition (cancel flag, then
// deadline), so the time between two stop checks is bounded; a stop check before a whole command or
// a whole pass is run directly with check_stop().
//
// A budget serves one thread; it is neither copied nor moved, and outlives every charge on it.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "construct/error.h"

namespace brackwater::construct {

// The stop condition: `Cancelled`, then `TimedOut`, or nothing.
using StopCondition = std::function<Result<void>()>;

inline constexpr uint64_t kStatementBytes = uint64_t{3} << 29;  // 1.5 GiB
inline constexpr uint64_t kWorkPerCheck = uint64_t{1} << 16;
// The units of a step that hashes, compares or copies `bytes` bytes.
inline constexpr uint64_t work_for_bytes(uint64_t bytes) { return 1 + bytes / 64; }
// a * b, or UINT64_MAX when the product does not fit.
inline uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t product;
  return __builtin_mul_overflow(a, b, &product) ? UINT64_MAX : product;
}
// The bytes of `count` elements of `size` bytes, saturating.
inline uint64_t bytes_for(uint64_t count, uint64_t size) { return saturating_mul(count, size); }

class Budget {
 public:
  // Without a stop condition, work never stops.
  explicit Budget(StopCondition stop = {}, uint64_t max_bytes = kStatementBytes)
      : stop_(std::move(stop)), max_bytes_(max_bytes) {}
  Budget(const Budget&) = delete;
  Budget& operator=(const Budget&) = delete;

  // The stop condition, now.
  Result<void> check_stop() const { return stop_ ? stop_() : Result<void>(); }

  // Counts `units` of work; runs the stop condition at the budget's first work, then once
  // kWorkPerCheck units have gathered since it last ran here.
  Result<void> work(uint64_t units) {
    if (units < left_) {
      left_ -= units;
      return {};
    }
    left_ = kWorkPerCheck;
    return check_stop();
  }

  // Holds `bytes` more, or fails with `ResourceLimit` "search memory" holding nothing more.
  Result<void> charge(uint64_t bytes) {
    if (bytes > max_bytes_ - held_) return refuse();
    held_ += bytes;
    return {};
  }
  void refund(uint64_t bytes) noexcept { held_ -= bytes < held_ ? bytes : held_; }
  uint64_t held() const { return held_; }
  uint64_t max_bytes() const { return max_bytes_; }

 private:
  Result<void> refuse() const;

  StopCondition stop_;
  uint64_t max_bytes_;
  uint64_t held_ = 0;
  uint64_t left_ = 0;  // units before the next stop check: the first work checks at once
};

// `ResourceLimit` "search memory" with `maximum`.
EngineError out_of_budget(uint64_t maximum);

// Bytes held on a budget by one structure, given back when it goes. Without a budget it holds
// nothing and never fails.
class Charge {
 public:
  explicit Charge(Budget* budget = nullptr) : budget_(budget) {}
  Charge(Charge&& other) noexcept
      : budget_(std::exchange(other.budget_, nullptr)), bytes_(std::exchange(other.bytes_, 0)) {}
  Charge& operator=(Charge&& other) noexcept {
    if (this != &other) {
      release();
      budget_ = std::exchange(other.budget_, nullptr);
      bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
  }
  Charge(const Charge&) = delete;
  Charge& operator=(const Charge&) = delete;
  ~Charge() { release(); }

  Budget* budget() const { return budget_; }
  uint64_t bytes() const { return bytes_; }

  // Holds `bytes` in all: an increase is charged first (failing, the charge is unchanged), a
  // decrease given back.
  Result<void> hold(uint64_t bytes) {
    if (budget_ == nullptr) return {};
    if (bytes > bytes_) {
      if (auto r = budget_->charge(bytes - bytes_); !r) return r;
    } else {
      budget_->refund(bytes_ - bytes);
    }
    bytes_ = bytes;
    return {};
  }
  // Holds `bytes` more.
  Result<void> add(uint64_t bytes) { return hold(bytes > UINT64_MAX - bytes_ ? UINT64_MAX : bytes_ + bytes); }
  // Gives everything back and leaves the budget.
  void release() noexcept {
    if (budget_ != nullptr) budget_->refund(bytes_);
    bytes_ = 0;
    budget_ = nullptr;
  }

 private:
  Budget* budget_;
  uint64_t bytes_ = 0;
};

}  // namespace brackwater::construct
