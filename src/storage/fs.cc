#include "storage/fs.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

#include "storage/text.h"

#if defined(__APPLE__)
#include <sys/random.h>
#endif

namespace brackwater::storage {

namespace {

int open_flags(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read:
      return O_RDONLY;
    case OpenMode::ReadWrite:
      return O_RDWR;
    case OpenMode::ReadWriteCreate:
      return O_RDWR | O_CREAT;
    case OpenMode::CreateNew:
      return O_RDWR | O_CREAT | O_EXCL;
    case OpenMode::WriteTruncate:
      return O_WRONLY | O_CREAT | O_TRUNC;
    case OpenMode::Directory:
      return O_RDONLY | O_DIRECTORY;
  }
  return O_RDONLY;
}

// The descriptors this process opened through the file system layer, and the lock files it holds
// by (device, inode).
//
// Some file systems (NFS) emulate flock with per-process record locks, under which a second open in
// the same process would succeed and its close would release the first holder's lock; the lock
// table refuses such an open before it touches the file.
//
// A forked child inherits every descriptor, and with the lock file's open description the lock
// itself: the parent's close would then not free the store while the child lives. Right after a
// fork the child points each of these descriptor numbers at a placeholder (the read end of an
// empty pipe made once), which drops its share of the files (and of the lock) while the numbers
// stay valid for the child's own later close.
class DescriptorRegistry {
 public:
  DescriptorRegistry() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) == 0) {
      placeholder_ = ends[0];
      ::close(ends[1]);
    }
    ::pthread_atfork([] { instance().mutex_.lock(); }, [] { instance().mutex_.unlock(); },
                     [] { instance().detach_in_child(); });
  }

  static DescriptorRegistry& instance() {
    static DescriptorRegistry registry;
    return registry;
  }

  void opened(Fd fd) {
    std::lock_guard guard(mutex_);
    open_.insert(fd);
  }

  std::expected<Fd, LockFailure> lock(Fd dir, const std::string& name) {
    std::lock_guard guard(mutex_);
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, 0) == 0 && held_.count(key(st))) {
      return std::unexpected(LockFailure{EWOULDBLOCK, true});
    }
    int fd = ::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return std::unexpected(LockFailure{errno, false});
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int e = errno;
      ::close(fd);
      return std::unexpected(LockFailure{e, true});
    }
    open_.insert(fd);
    if (::fstat(fd, &st) == 0) {
      held_.insert(key(st));
      by_fd_[fd] = key(st);
    }
    return fd;
  }

  // Closes `fd`, forgetting its lock when it holds one. A lock file is closed under the lock, so
  // that no child is forked with it in between; any other file is closed after, as freeing it can
  // take long (a child forked in between keeps a share of it until it exits or executes).
  void close(Fd fd) {
    {
      std::lock_guard guard(mutex_);
      open_.erase(fd);
      if (auto it = by_fd_.find(fd); it != by_fd_.end()) {
        held_.erase(it->second);
        by_fd_.erase(it);
        ::close(fd);
        return;
      }
    }
    ::close(fd);
  }

 private:
  using Key = std::pair<dev_t, ino_t>;
  static Key key(const struct stat& st) { return {st.st_dev, st.st_ino}; }

  // Runs in the child with the mutex taken by the forking thread; only async-signal-safe calls.
  void detach_in_child() {
    if (placeholder_ >= 0) {
      for (Fd fd : open_) ::dup3(placeholder_, fd, O_CLOEXEC);
    }
    mutex_.unlock();
  }

  std::mutex mutex_;
  int placeholder_ = -1;
  std::set<Fd> open_;
  std::set<Key> held_;
  std::map<Fd, Key> by_fd_;
};

SysResult<void> flush_fd(Fd fd) {
#if defined(__APPLE__)
  if (::fcntl(fd, F_FULLFSYNC) != 0) return std::unexpected(errno);
#else
  if (::fsync(fd) != 0) return std::unexpected(errno);
#endif
  return {};
}

// A flush whose result is already known.
class DoneSync final : public PendingSync {
 public:
  explicit DoneSync(SysResult<void> result) : result_(result) {}
  SysResult<void> wait() override { return result_; }

 private:
  SysResult<void> result_;
};

// One thread that runs the flushes and closes a file system is handed, in the order it was handed
// them. It starts with the first job and, when destroyed, finishes the queued jobs and is joined.
//
// A forked child has no such thread, and may hold a copy of the lock or the conditions taken in the
// middle of their use: the child never uses the worker (the store refuses to write there) and,
// destroying it, leaves its state untouched and unfreed.
class Worker {
 public:
  // The outcome of one flush, written by the thread under the lock.
  struct Flush {
    SysResult<void> result;
    bool done = false;
  };

  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  ~Worker() {
    if (!started_) return;
    if (owner_ != ::getpid()) {
      static_cast<void>(state_.release());
      return;
    }
    {
      std::lock_guard guard(state_->mutex);
      state_->stopping = true;
    }
    state_->work.notify_one();
    ::pthread_join(thread_, nullptr);
  }

  // Queues the flush of `fd`; nullptr when no thread could be started.
  std::shared_ptr<Flush> flush(Fd fd) {
    auto flush = std::make_shared<Flush>();
    if (!queue(Job{fd, flush})) return nullptr;
    return flush;
  }
  // Queues the close of `fd`; false when no thread could be started.
  bool close(Fd fd) { return queue(Job{fd, nullptr}); }

  // Waits for a flush this worker was given.
  SysResult<void> wait(const Flush& flush) {
    std::unique_lock lock(state_->mutex);
    state_->done.wait(lock, [&flush] { return flush.done; });
    return flush.result;
  }

 private:
  struct Job {
    Fd fd;
    std::shared_ptr<Flush> flush;  // null: a close
  };
  struct State {
    std::mutex mutex;
    std::condition_variable work, done;
    std::deque<Job> jobs;
    bool stopping = false;
  };

  bool queue(Job job) {
    if (!started_ && !start()) return false;
    {
      std::lock_guard guard(state_->mutex);
      state_->jobs.push_back(std::move(job));
    }
    state_->work.notify_one();
    return true;
  }

  // Starts the thread with every signal blocked: they are for the process's own threads.
  bool start() {
    pthread_attr_t attr;
    if (::pthread_attr_init(&attr) != 0) return false;
    ::pthread_attr_setstacksize(&attr, size_t(64) << 10);
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const int created = ::pthread_create(&thread_, &attr, &Worker::run, state_.get());
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::pthread_attr_destroy(&attr);
    if (created != 0) return false;
    started_ = true;
    owner_ = ::getpid();
    return true;
  }

  static void* run(void* arg) {
    State& state = *static_cast<State*>(arg);
    std::unique_lock lock(state.mutex);
    while (true) {
      state.work.wait(lock, [&state] { return state.stopping || !state.jobs.empty(); });
      if (state.jobs.empty()) return nullptr;
      Job job = std::move(state.jobs.front());
      state.jobs.pop_front();
      lock.unlock();
      SysResult<void> result;
      if (job.flush) result = flush_fd(job.fd);
      else DescriptorRegistry::instance().close(job.fd);
      lock.lock();
      if (job.flush) {
        job.flush->result = result;
        job.flush->done = true;
        state.done.notify_all();
      }
    }
  }

  std::unique_ptr<State> state_ = std::make_unique<State>();
  pthread_t thread_{};
  bool started_ = false;
  pid_t owner_ = 0;
};

// A flush queued on a worker; destroying it without `wait` still waits for the flush to end.
class WorkerSync final : public PendingSync {
 public:
  WorkerSync(Worker& worker, std::shared_ptr<Worker::Flush> flush) : worker_(worker), flush_(std::move(flush)) {}
  ~WorkerSync() override {
    if (!waited_) static_cast<void>(worker_.wait(*flush_));
  }
  SysResult<void> wait() override {
    waited_ = true;
    return worker_.wait(*flush_);
  }

 private:
  Worker& worker_;
  std::shared_ptr<Worker::Flush> flush_;
  bool waited_ = false;
};

class PosixFs final : public Fs {
 public:
  // With `worker`, flushes started with `start_sync` and closes given to `close_later` run on a
  // thread of this file system; without, they run in the calling thread.
  explicit PosixFs(bool worker) : worker_(worker ? std::make_unique<Worker>() : nullptr) {}

  SysResult<void> make_dir(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) return std::unexpected(errno);
    return {};
  }

  SysResult<bool> is_dir(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::unexpected(errno);
    return S_ISDIR(st.st_mode);
  }

  SysResult<Fd> open_at(Fd dir, const std::string& name, OpenMode mode) override {
    int fd = ::openat(dir, name.c_str(), open_flags(mode) | O_CLOEXEC, 0666);
    if (fd < 0) return std::unexpected(errno);
    descriptors_.opened(fd);
    return fd;
  }

  SysResult<bool> exists_at(Fd dir, const std::string& name) override {
    struct stat st;
    if (::fstatat(dir, name.c_str(), &st, 0) == 0) return true;
    if (errno == ENOENT) return false;
    return std::unexpected(errno);
  }

  std::expected<Fd, LockFailure> lock_file(Fd dir, const std::string& name) override {
    return descriptors_.lock(dir, name);
  }

  SysResult<size_t> read_at(Fd fd, uint64_t offset, std::span<uint8_t> buffer) override {
    ssize_t n = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(offset));
    if (n < 0) return std::unexpected(errno);
    return static_cast<size_t>(n);
  }

  SysResult<size_t> write_at(Fd fd, uint64_t offset, std::span<const uint8_t> data) override {
    ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
    if (n < 0) return std::unexpected(errno);
    return static_cast<size_t>(n);
  }

  SysResult<void> sync(Fd fd) override { return flush_fd(fd); }

  SysResult<std::unique_ptr<PendingSync>> start_sync(Fd fd) override {
    if (worker_) {
      if (auto flush = worker_->flush(fd)) return std::unique_ptr<PendingSync>(std::make_unique<WorkerSync>(*worker_, std::move(flush)));
    }
    return Fs::start_sync(fd);  // no thread to spare: flush here
  }

  SysResult<uint64_t> file_size(Fd fd) override {
    struct stat st;
    if (::fstat(fd, &st) != 0) return std::unexpected(errno);
    return static_cast<uint64_t>(st.st_size);
  }

  SysResult<void> truncate(Fd fd, uint64_t length) override {
    if (::ftruncate(fd, static_cast<off_t>(length)) != 0) return std::unexpected(errno);
    return {};
  }

  SysResult<void> rename_at(Fd dir, const std::string& from, const std::string& to) override {
    if (::renameat(dir, from.c_str(), dir, to.c_str()) != 0) return std::unexpected(errno);
    return {};
  }

  SysResult<void> random_bytes(std::span<uint8_t> out) override {
    if (::getentropy(out.data(), out.size()) != 0) return std::unexpected(errno);
    return {};
  }

  void close(Fd fd) override { descriptors_.close(fd); }

  void close_later(Fd fd) override {
    if (!worker_ || !worker_->close(fd)) close(fd);
  }

 private:
  DescriptorRegistry& descriptors_ = DescriptorRegistry::instance();
  std::unique_ptr<Worker> worker_;  // last: joined before the rest goes
};

}  // namespace

SysResult<std::unique_ptr<PendingSync>> Fs::start_sync(Fd fd) {
  return std::unique_ptr<PendingSync>(std::make_unique<DoneSync>(sync(fd)));
}

void Fs::close_later(Fd fd) { close(fd); }

std::shared_ptr<Fs> posix_fs() {
  static const std::shared_ptr<Fs> fs = std::make_shared<PosixFs>(false);
  return fs;
}

std::shared_ptr<Fs> posix_writer_fs() { return std::make_shared<PosixFs>(true); }

std::string os_error_text(int error) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
  // The English description, whatever the process locale.
  const char* description = ::strerrordesc_np(error);
  if (description == nullptr) return str_cat("Unknown error ", error, " (os error ", error, ")");
  return str_cat(description, " (os error ", error, ")");
#else
  char buffer[256] = {};
  if (::strerror_r(error, buffer, sizeof(buffer)) != 0) return str_cat("Unknown error ", error, " (os error ", error, ")");
  return str_cat(buffer, " (os error ", error, ")");
#endif
}

construct::EngineError os_error(int error) { return construct::EngineError::persistence(os_error_text(error)); }

construct::Result<void> write_all(Fs& fs, Fd fd, uint64_t offset, std::span<const uint8_t> data) {
  while (!data.empty()) {
    auto n = fs.write_at(fd, offset, data);
    if (!n) {
      if (n.error() == EINTR) continue;
      return construct::fail(os_error(n.error()));
    }
    if (*n == 0) return construct::fail(construct::EngineError::persistence(std::string(kWriteZeroFailure)));
    data = data.subspan(*n);
    offset += *n;
  }
  return {};
}

std::expected<void, std::string> read_exact(Fs& fs, Fd fd, uint64_t offset, std::span<uint8_t> buffer) {
  while (!buffer.empty()) {
    auto n = fs.read_at(fd, offset, buffer);
    if (!n) {
      if (n.error() == EINTR) continue;
      return std::unexpected(os_error_text(n.error()));
    }
    if (*n == 0) return std::unexpected(std::string(kFillFailure));
    buffer = buffer.subspan(*n);
    offset += *n;
  }
  return {};
}

SysResult<std::vector<uint8_t>> read_to_end(Fs& fs, Fd fd) {
  std::vector<uint8_t> out;
  size_t hint = 128;
  if (auto size = fs.file_size(fd); size && *size < (uint64_t(1) << 32)) hint = static_cast<size_t>(*size) + 1;
  out.resize(hint);
  size_t used = 0;
  while (true) {
    if (used == out.size()) out.resize(out.size() * 2);
    auto n = fs.read_at(fd, used, std::span<uint8_t>(out).subspan(used));
    if (!n) {
      if (n.error() == EINTR) continue;
      return std::unexpected(n.error());
    }
    if (*n == 0) break;
    used += *n;
  }
  out.resize(used);
  return out;
}

}  // namespace brackwater::storage
