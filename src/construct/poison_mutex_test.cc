#include "construct/poison_mutex.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace brackwater::construct {
namespace {

TEST(PoisonMutex, LockGivesAccessAndReleases) {
  PoisonMutex<int> m(1);
  {
    auto guard = m.lock();
    ASSERT_TRUE(guard.has_value());
    **guard += 1;
    auto busy = m.try_lock();
    EXPECT_FALSE(busy.has_value());
  }
  auto again = m.try_lock();
  ASSERT_TRUE(again.has_value());
  ASSERT_TRUE(again->has_value());
  EXPECT_EQ(***again, 2);
  EXPECT_FALSE(m.is_poisoned());
  again.reset();
  // A moved guard releases once.
  {
    auto guard = m.lock();
    PoisonGuard<int> moved = std::move(*guard);
    *moved = 3;
  }
  EXPECT_EQ(**m.lock(), 3);
}

TEST(PoisonMutex, AnExceptionUnwindingThroughAGuardPoisonsForGood) {
  PoisonMutex<int> m(0);
  try {
    auto guard = m.lock();
    **guard = 42;
    throw std::runtime_error("bug");
  } catch (const std::runtime_error&) {
  }
  EXPECT_TRUE(m.is_poisoned());
  for (int i = 0; i < 2; ++i) {
    auto guard = m.lock();
    ASSERT_FALSE(guard.has_value());
    EXPECT_EQ(guard.error().kind(), ErrorKind::LockPoisoned);
    EXPECT_EQ(guard.error().display(), "Lock poisoned: poisoned lock: another task failed inside");
  }
  // The poisoned lock was not kept: another thread can still take (and be refused) it.
  std::thread other([&] {
    auto t = m.try_lock();
    ASSERT_TRUE(t.has_value());
    EXPECT_FALSE(t->has_value());
  });
  other.join();
}

TEST(PoisonMutex, AGuardTakenDuringUnwindingDoesNotPoison) {
  PoisonMutex<int> m(0);
  struct TakesLockInDestructor {
    PoisonMutex<int>* m;
    ~TakesLockInDestructor() {
      auto guard = m->lock();  // already unwinding when the lock is taken
      EXPECT_TRUE(guard.has_value());
    }
  };
  try {
    TakesLockInDestructor t{&m};
    throw std::runtime_error("unwinding");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(m.is_poisoned());
  EXPECT_TRUE(m.lock().has_value());
}

}  // namespace
}  // namespace brackwater::construct
