#include "construct/background_release.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "construct/block_storage.h"

namespace brackwater::construct {

namespace {

class Releaser {
 public:
  // Never destroyed: the thread may still be freeing while the process exits.
  static Releaser& instance() {
    static Releaser* releaser = new Releaser();
    return *releaser;
  }

  void queue(std::unique_ptr<Disposable> item) {
    std::unique_lock lock(mutex_);
    if (started_ != ::getpid() && !start()) {
      lock.unlock();
      item.reset();
      return;
    }
    queue_.push_back(std::move(item));
    lock.unlock();
    work_.notify_one();
  }

  void wait_idle() {
    std::unique_lock lock(mutex_);
    // A forked child may hold what its parent queued before this process has a thread of its own.
    if (started_ != ::getpid() && (queue_.empty() || !start())) return;
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
  }

 private:
  // The allocation of this object has set the allocator up, with its own fork handlers, before
  // these are registered: handlers registered later run their preparation first, so the wait in
  // before_fork runs while the allocator's locks are still free (glibc's malloc takes its locks
  // only after every handler has run).
  Releaser() {
    ::pthread_atfork([] { instance().before_fork(); }, [] { instance().after_fork_in_parent(); },
                     [] { instance().reset_in_child(); });
  }

  // Runs in the forking thread: waits until the thread is waiting for work (done starting, or done
  // with the item it took), so that no child inherits an allocator lock the thread held, and keeps
  // the mutex into the fork. While a fork waits the thread takes no further item: the queue is left
  // as it is. The thread's start-up and frees take only the allocator's locks, which the forking
  // thread does not hold yet. A fork from a destructor the thread runs does not wait for itself.
  void before_fork() {
    std::unique_lock lock(mutex_);
    ++forks_;
    if (!on_thread()) freed_.wait(lock, [this] { return !busy_; });
    lock.release();
  }

  // Under the lock.
  bool on_thread() const { return started_ == ::getpid() && ::pthread_equal(::pthread_self(), thread_); }

  void after_fork_in_parent() {
    const bool resume = --forks_ == 0 && !queue_.empty();
    mutex_.unlock();
    if (resume) work_.notify_one();
  }

  // Runs in the child with the mutex taken by the forking thread; only async-signal-safe work. The
  // condition variables carry the waiters of the parent's threads, which the child does not have:
  // signalling such a copy can block for good. Fresh ones are made over the copies, which are not
  // destroyed (their state is the parent's). No item was being freed at the fork but by the forking
  // thread itself; what is queued stays queued for the child's own thread.
  void reset_in_child() {
    std::construct_at(&work_);
    std::construct_at(&idle_);
    std::construct_at(&freed_);
    forks_ = 0;
    mutex_.unlock();
  }

  // Under the lock. The thread blocks every signal: they are for the process's own threads.
  bool start() {
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0) return false;
    ::pthread_attr_setstacksize(&attr, size_t{64} << 10);
    ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    const int created = ::pthread_create(&thread, &attr, &Releaser::run, this);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::pthread_attr_destroy(&attr);
    if (created != 0) return false;
    started_ = ::getpid();
    thread_ = thread;
    busy_ = true;  // until the thread first waits: its start-up allocates
    return true;
  }

  static void* run(void* arg) {
    Releaser& self = *static_cast<Releaser*>(arg);
    std::unique_lock lock(self.mutex_);
    while (true) {
      self.busy_ = false;
      if (self.forks_ > 0) self.freed_.notify_all();
      if (self.queue_.empty()) self.idle_.notify_all();
      self.work_.wait(lock, [&self] { return !self.queue_.empty() && self.forks_ == 0; });
      std::unique_ptr<Disposable> item = std::move(self.queue_.front());
      self.queue_.pop_front();
      self.busy_ = true;
      lock.unlock();
      item.reset();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_, idle_, freed_;
  std::deque<std::unique_ptr<Disposable>> queue_;
  pid_t started_ = 0;  // the process whose thread serves the queue
  pthread_t thread_{};  // that thread
  bool busy_ = false;  // the thread is starting, or freeing an item it took
  int forks_ = 0;      // forking threads in before_fork or between it and after_fork_in_parent
};

struct Block final : Disposable {
  Block(void* p, size_t bytes) : p(p), bytes(bytes) {}
  ~Block() override { release_block(p, bytes); }
  void* p;
  size_t bytes;
};

}  // namespace

void dispose_later(std::unique_ptr<Disposable> item) noexcept {
  try {
    Releaser::instance().queue(std::move(item));
  } catch (...) {
    // The item is freed here when the queue cannot take it (its destructor ran on unwinding).
  }
}

void release_block_later(void* block, size_t bytes) noexcept {
  if (block == nullptr) return;
  if (bytes < kBackgroundReleaseBytes) {
    release_block(block, bytes);
    return;
  }
  std::unique_ptr<Disposable> item;
  try {
    item = std::make_unique<Block>(block, bytes);
  } catch (const std::bad_alloc&) {
    release_block(block, bytes);
    return;
  }
  dispose_later(std::move(item));
}

void wait_for_background_release() { Releaser::instance().wait_idle(); }

}  // namespace brackwater::construct
