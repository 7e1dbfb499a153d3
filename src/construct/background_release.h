// Dropping large buffers off the calling thread.
//
// Giving memory back costs time in proportion to the pages it held (tens of milliseconds per GiB
// on a virtual machine), so a call that ends at a deadline would answer late if it first gave back
// all it had built. These calls hand such a buffer to one background thread of the process, which
// frees it. The thread starts with the first buffer handed over, with every signal blocked, and
// lives as long as the process. A fork waits until the thread waits for work (its start-up done,
// and the item it is freeing freed), and the thread takes no further item until the fork is done,
// so no child inherits an allocator lock the thread held; what is queued stays queued. A fork made
// by the thread itself (from an item's destructor) does not wait. A forked child starts its own
// thread when it first hands a buffer over or waits for the release, which then also frees what was
// queued at the fork; the child never signals or waits on what the parent's thread waited on. Where
// no thread can be started, or the queue entry cannot be allocated, the buffer is freed at once.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace brackwater::construct {

// Buffers smaller than this are freed at once: handing them over would cost more than it saves.
inline constexpr size_t kBackgroundReleaseBytes = size_t{4} << 20;

// Something the background thread destroys. Its destructor only frees memory: a fork waits for it,
// so it must take no lock that a forking thread may hold.
class Disposable {
 public:
  virtual ~Disposable() = default;
};

// Queues `item` for destruction on the background thread (at once when that cannot be done).
void dispose_later(std::unique_ptr<Disposable> item) noexcept;

// Frees a block of allocate_block(bytes) (not asked for huge pages) on the background thread when
// it is large, else at once.
void release_block_later(void* block, size_t bytes) noexcept;

// Destroys `object` (moved from the caller) on the background thread.
template <class T>
void destroy_later(T&& object) noexcept {
  struct Holder final : Disposable {
    explicit Holder(T&& value) : value(std::move(value)) {}
    std::remove_reference_t<T> value;
  };
  std::unique_ptr<Disposable> holder;
  try {
    holder = std::make_unique<Holder>(std::move(object));
  } catch (const std::bad_alloc&) {
    return;  // `object` is destroyed by its owner, at once
  }
  dispose_later(std::move(holder));
}

// Waits until everything queued so far in this process has been freed (for tests).
void wait_for_background_release();

}  // namespace brackwater::construct
