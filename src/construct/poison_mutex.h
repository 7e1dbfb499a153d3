// Mutexes with a poison mark.
//
// A guard released while its thread unwinds from an exception that began after the lock was taken
// marks the mutex poisoned for good, except a reader's (lock_to_read): a reader changes nothing,
// so one that fails (an allocation of its own) leaves the data as sound as it found it. Taking a poisoned mutex yields `LockPoisoned` "poisoned lock: another
// task failed inside" and leaves the mutex unlocked. Engine code reports errors as values, so only a
// genuine bug (an escaping exception) can poison a lock.
#pragma once

#include <atomic>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>

#include "construct/error.h"

namespace brackwater::construct {

template <class T>
class PoisonMutex;

// Exclusive access to the data behind a PoisonMutex; releases the lock on destruction.
template <class T>
class PoisonGuard {
 public:
  PoisonGuard(PoisonGuard&& other) noexcept : owner_(other.owner_), unwinding_(other.unwinding_) {
    other.owner_ = nullptr;
  }
  PoisonGuard(const PoisonGuard&) = delete;
  PoisonGuard& operator=(const PoisonGuard&) = delete;
  PoisonGuard& operator=(PoisonGuard&&) = delete;
  ~PoisonGuard() { release(); }

  T& operator*() const { return owner_->data_; }
  T* operator->() const { return &owner_->data_; }

 private:
  friend class PoisonMutex<T>;
  PoisonGuard(PoisonMutex<T>* owner, bool reader)
      : owner_(owner), unwinding_(reader ? std::numeric_limits<int>::max() : std::uncaught_exceptions()) {}
  void release() {
    if (owner_ == nullptr) return;
    if (std::uncaught_exceptions() > unwinding_) owner_->poisoned_.store(true, std::memory_order_release);
    owner_->mutex_.unlock();
    owner_ = nullptr;
  }

  PoisonMutex<T>* owner_;
  int unwinding_;
};

template <class T>
class PoisonMutex {
 public:
  PoisonMutex() = default;
  explicit PoisonMutex(T value) : data_(std::move(value)) {}
  PoisonMutex(const PoisonMutex&) = delete;
  PoisonMutex& operator=(const PoisonMutex&) = delete;

  // Blocks until the lock is held; a poisoned mutex gives `LockPoisoned` without holding the lock.
  Result<PoisonGuard<T>> lock() { return take(false); }
  // The same for a reader, whose guard never poisons the mutex.
  Result<PoisonGuard<T>> lock_to_read() { return take(true); }

  // Like lock() but never waits: an empty optional means the lock is busy.
  std::optional<Result<PoisonGuard<T>>> try_lock() {
    if (!mutex_.try_lock()) return std::nullopt;
    PoisonGuard<T> guard(this, false);
    if (poisoned_.load(std::memory_order_acquire)) return Result<PoisonGuard<T>>(fail(EngineError::lock_poisoned()));
    return Result<PoisonGuard<T>>(std::move(guard));
  }

  bool is_poisoned() const { return poisoned_.load(std::memory_order_acquire); }
  // Test hook: mark the mutex poisoned as an escaping exception would.
  void poison_for_testing() { poisoned_.store(true, std::memory_order_release); }

 private:
  friend class PoisonGuard<T>;
  Result<PoisonGuard<T>> take(bool reader) {
    mutex_.lock();
    PoisonGuard<T> guard(this, reader);
    if (poisoned_.load(std::memory_order_acquire)) return fail(EngineError::lock_poisoned());
    return guard;
  }

  std::mutex mutex_;
  std::atomic<bool> poisoned_{false};
  T data_{};
};

struct Unit {};

}  // namespace brackwater::construct
