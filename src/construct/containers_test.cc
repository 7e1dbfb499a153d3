#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "construct/background_release.h"
#include "construct/block_storage.h"
#include "construct/flat_table.h"
#include "construct/fork_test_util.h"
#include "construct/large_array.h"
#include "construct/ref_list.h"

namespace brackwater::construct {
namespace {

using testing::in_child;

TEST(FlatTable, FindsEveryEntryAcrossGrowthAndCollisions) {
  FlatTable<uint64_t> table;
  // A weak hash (many equal low bits and tags) exercises probing and the control bytes.
  auto weak = [](uint64_t v) { return (v % 7) * 0x9E3779B97F4A7C15ULL; };
  for (uint64_t v = 0; v < 5000; ++v) {
    ASSERT_EQ(table.find(weak(v), [v](uint64_t e) { return e == v; }), nullptr);
    table.insert_new(weak(v), v);
  }
  EXPECT_EQ(table.size(), 5000u);
  for (uint64_t v = 0; v < 5000; ++v) {
    const uint64_t* found = table.find(weak(v), [v](uint64_t e) { return e == v; });
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(*found, v);
  }
  uint64_t sum = 0;
  table.for_each([&sum](uint64_t e) { sum += e; });
  EXPECT_EQ(sum, 4999u * 5000u / 2);
}

TEST(LargeArray, KeepsItsValuesAsItGrowsByRemappingAndIsFreedInTheBackground) {
  std::vector<uint64_t> expected;
  {
    LargeArray<uint64_t> array;
    // From the heap into a mapped block and on through several remaps.
    for (uint64_t v = 0; v < (kMappedArrayBytes / sizeof(uint64_t)) * 2; ++v) {
      ASSERT_TRUE(array.push_back(v * 7));
      if (v % 100'003 == 0) expected.push_back(v * 7);
    }
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(array[i * 100'003], expected[i]);
    ASSERT_TRUE(array.resize(3));
    ASSERT_TRUE(array.resize(5));
    EXPECT_EQ(array[2], 14u);
    EXPECT_EQ(array[4], 0u);  // value-initialised
  }
  struct Flag {
    std::atomic<bool>* destroyed;
    ~Flag() {
      if (destroyed) destroyed->store(true);
    }
  };
  std::atomic<bool> destroyed{false};
  Flag flag{&destroyed};
  destroy_later(std::move(flag));
  flag.destroyed = nullptr;
  wait_for_background_release();
  EXPECT_TRUE(destroyed.load());
}

// When destroyed, sets `entered` as it starts, takes `hold` and then sets `destroyed`.
struct Flag {
  std::atomic<bool>* destroyed = nullptr;
  std::atomic<bool>* entered = nullptr;
  std::chrono::milliseconds hold{0};
  ~Flag() {
    if (entered) entered->store(true);
    std::this_thread::sleep_for(hold);
    if (destroyed) destroyed->store(true);
  }
};

// Hands `flag` (moved from) to the background thread; the caller's copy then does nothing.
void dispose_flag(Flag& flag) {
  destroy_later(std::move(flag));
  flag = Flag{};
}

// Hands over a Flag that takes 150 ms to destroy and returns once the background thread is in its
// destructor.
void dispose_slow_flag(std::atomic<bool>& entered, std::atomic<bool>& destroyed) {
  Flag slow{&destroyed, &entered, std::chrono::milliseconds(150)};
  dispose_flag(slow);
  while (!entered.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// In the child, three times: hands over a large block and an object and waits for both to be freed
// (from the second time on, the child's own thread is waiting for work when they are handed over).
bool hand_over_and_wait() {
  for (int round = 0; round < 3; ++round) {
    const size_t bytes = kBackgroundReleaseBytes * 2;
    void* block = allocate_block(bytes);
    if (block == nullptr) return false;
    static_cast<char*>(block)[bytes - 1] = 1;
    release_block_later(block, bytes);
    std::atomic<bool> destroyed{false};
    Flag flag{&destroyed};
    dispose_flag(flag);
    wait_for_background_release();
    if (!destroyed.load()) return false;
  }
  return true;
}

TEST(BackgroundRelease, AForkedChildHandsOverAndWaitsAfterTheParentsThreadWentIdle) {
  std::atomic<bool> destroyed{false};
  Flag flag{&destroyed};
  dispose_flag(flag);
  wait_for_background_release();  // returns once the thread waits for work again
  ASSERT_TRUE(destroyed.load());
  EXPECT_TRUE(in_child(hand_over_and_wait));
  EXPECT_TRUE(in_child([] {
    wait_for_background_release();  // nothing queued in this process: returns at once
    return hand_over_and_wait();
  }));
  destroyed = false;
  Flag again{&destroyed};
  dispose_flag(again);
  wait_for_background_release();  // the parent's thread is as it was
  EXPECT_TRUE(destroyed.load());
}

TEST(BackgroundRelease, AForkedChildFreesWhatItsParentQueued) {
  std::atomic<bool> entered{false}, held_destroyed{false}, queued_destroyed{false};
  dispose_slow_flag(entered, held_destroyed);
  Flag queued{&queued_destroyed};
  dispose_flag(queued);  // behind the item the thread is freeing
  EXPECT_TRUE(in_child([&] {
    wait_for_background_release();  // starts the child's thread, which frees the queued item if still queued
    return queued_destroyed.load() && held_destroyed.load();
  }));
  EXPECT_TRUE(in_child([&] { return hand_over_and_wait() && queued_destroyed.load() && held_destroyed.load(); }));
  wait_for_background_release();
  EXPECT_TRUE(held_destroyed.load());
  EXPECT_TRUE(queued_destroyed.load());
}

// A fork made while the thread frees an item returns, in the parent and in the child, once the
// item is freed: no child inherits it half freed.
TEST(BackgroundRelease, AForkWaitsForTheItemBeingFreed) {
  std::atomic<bool> freeing{false}, freed{false};
  dispose_slow_flag(freeing, freed);
  bool freed_at_fork = false;
  EXPECT_TRUE(in_child([&] { return freed.load(); }, [&] { freed_at_fork = freed.load(); }));
  EXPECT_TRUE(freed_at_fork);
}

// The thread's start-up allocates (its stack attributes, the sanitizer's thread state), so a fork
// made while it starts must wait for it: a child that inherits an allocator lock the thread held
// blocks for good on its next allocation of that size. Each of many fresh processes forks at once,
// or a little into the start-up, after its first hand-over; each child allocates blocks of every
// small size and must finish within its ten seconds.
TEST(BackgroundRelease, AForkWaitsForTheThreadToStart) {
  constexpr int kProcesses = 200, kAtOnce = 8;
  int running = 0, failed = 0;
  auto reap = [&] {
    int status = 0;
    if (::wait(&status) > 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) ++failed;
    --running;
  };
  for (int i = 0; i < kProcesses; ++i) {
    if (running == kAtOnce) reap();
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      dispose_later(std::make_unique<Disposable>());  // starts this process's thread
      const auto fork_at = std::chrono::steady_clock::now() + std::chrono::microseconds(i % 200);
      while (std::chrono::steady_clock::now() < fork_at) {
      }
      ::_exit(in_child([] {
        std::vector<std::unique_ptr<char[]>> blocks;
        for (size_t bytes = 1; bytes <= 4096; bytes += 8) {
          for (int n = 0; n < 16; ++n) blocks.emplace_back(new char[bytes]);
        }
        return true;
      }) ? 0 : 1);
    }
    ++running;
  }
  while (running > 0) reap();
  EXPECT_EQ(failed, 0) << "of " << kProcesses << " forked processes";
}

// A destructor run by the thread may fork: the fork does not wait for the thread to finish it.
TEST(BackgroundRelease, AForkFromTheThreadDoesNotWaitForItself) {
  struct Forks final : Disposable {
    explicit Forks(std::atomic<bool>* child_ended) : child_ended(child_ended) {}
    ~Forks() override { child_ended->store(in_child([] { return true; })); }
    std::atomic<bool>* child_ended;
  };
  EXPECT_TRUE(in_child([] {
    std::atomic<bool> child_ended{false};
    dispose_later(std::make_unique<Forks>(&child_ended));
    wait_for_background_release();  // blocks for good when the fork waits for its own thread
    return child_ended.load();
  }));
}

TEST(CompactLists, RefListAndPostingGrowFromOneInlineItem) {
  int a = 1, b = 2, c = 3;
  RefList<int> list;
  EXPECT_FALSE(list);
  EXPECT_TRUE(list.items().empty());
  list.push_back(&a);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.items()[0], &a);
  list.push_back(&b);
  list.push_back(&c);
  EXPECT_EQ(std::vector<const int*>(list.items().begin(), list.items().end()),
            (std::vector<const int*>{&a, &b, &c}));
  RefList<int> moved = std::move(list);
  EXPECT_EQ(moved.size(), 3u);

  Posting posting;
  EXPECT_EQ(posting.cardinality(), 0u);
  posting.add(7);
  posting.add(7);
  EXPECT_EQ(posting.cardinality(), 1u);
  EXPECT_TRUE(posting.contains(7));
  posting.add(3);
  EXPECT_EQ(posting.cardinality(), 2u);
  IdentitySet out;
  out.add(uint64_t{100});
  posting.unite_into(out);
  EXPECT_EQ(out.cardinality(), 3u);
  Posting huge;  // an identity beyond the inline range goes straight to a bitmap
  huge.add(UINT64_MAX);
  EXPECT_TRUE(huge.contains(UINT64_MAX));
  EXPECT_EQ(huge.cardinality(), 1u);
}

}  // namespace
}  // namespace brackwater::construct
