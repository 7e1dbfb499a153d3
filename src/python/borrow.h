// The borrow counter that guards a database object's engine handle.
//
// 0 free, n > 0 held shared by n calls, -1 held exclusively. Shared borrows are taken by the calls
// that use the engine (also while the interpreter lock is released); the exclusive borrow only by
// close() for the instant it takes the handle out. Changed only by compare-and-swap. Each guard
// gives its borrow back on destruction, on every path.
#pragma once

#include <atomic>
#include <cstdint>

namespace brackwater::python {

class BorrowCounter {
 public:
  // False when the counter is held exclusively.
  bool try_share() {
    intptr_t current = count_.load(std::memory_order_relaxed);
    do {
      if (current == -1) return false;
    } while (!count_.compare_exchange_weak(current, current + 1, std::memory_order_acquire,
                                           std::memory_order_relaxed));
    return true;
  }
  void unshare() { count_.fetch_sub(1, std::memory_order_release); }

  // False when any borrow is held.
  bool try_exclusive() {
    intptr_t expected = 0;
    return count_.compare_exchange_strong(expected, -1, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void unexclusive() { count_.store(0, std::memory_order_release); }

 private:
  std::atomic<intptr_t> count_{0};
};

// A shared borrow for a scope; `held()` is false when it could not be taken.
class SharedBorrow {
 public:
  explicit SharedBorrow(BorrowCounter& counter) : counter_(counter), held_(counter.try_share()) {}
  ~SharedBorrow() {
    if (held_) counter_.unshare();
  }
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  bool held() const { return held_; }

 private:
  BorrowCounter& counter_;
  bool held_;
};

// The exclusive borrow for a scope; `held()` is false when it could not be taken.
class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowCounter& counter) : counter_(counter), held_(counter.try_exclusive()) {}
  ~ExclusiveBorrow() {
    if (held_) counter_.unexclusive();
  }
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  bool held() const { return held_; }

 private:
  BorrowCounter& counter_;
  bool held_;
};

}  // namespace brackwater::python
