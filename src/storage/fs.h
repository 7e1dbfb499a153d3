// The file-system interface under the store, and its production implementation over POSIX.
//
// The store opens its directory once and names every later file relative to that handle. Each
// operation is one system call (or a fixed short sequence) and reports failure as an errno value, so
// tests can substitute an implementation that fails, tears or forgets operations. Every descriptor is
// opened close-on-exec: a child process must never inherit the store's lock.
//
// Operating-system failures are reported to callers of the store as `Persistence` with the text
// "{description} (os error {number})"; see `os_error_text`.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "construct/error.h"

namespace brackwater::storage {

using Fd = int;
// A system call's result, or its errno.
template <class T>
using SysResult = std::expected<T, int>;

// The handle that names the current working directory in `open_at`.
inline constexpr Fd kCurrentDir = -100;

enum class OpenMode : uint8_t {
  Read,             // O_RDONLY
  ReadWrite,        // O_RDWR
  ReadWriteCreate,  // O_RDWR | O_CREAT
  CreateNew,        // O_RDWR | O_CREAT | O_EXCL
  WriteTruncate,    // O_WRONLY | O_CREAT | O_TRUNC
  Directory,        // O_RDONLY | O_DIRECTORY
};

// A failure of `lock_file`: the errno and whether it came from taking the lock (not from opening).
struct LockFailure {
  int error = 0;
  bool while_locking = false;
};

// A flush started by `Fs::start_sync`. `wait` returns its result and is called at most once;
// destroying it without `wait` still waits for the flush to end.
class PendingSync {
 public:
  virtual ~PendingSync() = default;
  virtual SysResult<void> wait() = 0;
};

class Fs {
 public:
  virtual ~Fs() = default;

  // mkdir with permission bits 0o777 (before the umask), relative to the working directory.
  virtual SysResult<void> make_dir(const std::string& path) = 0;
  // stat(path) names a directory.
  virtual SysResult<bool> is_dir(const std::string& path) = 0;
  // openat with O_CLOEXEC and, when creating, permission bits 0o666.
  virtual SysResult<Fd> open_at(Fd dir, const std::string& name, OpenMode mode) = 0;
  // fstatat succeeds for `name` (symbolic links followed).
  virtual SysResult<bool> exists_at(Fd dir, const std::string& name) = 0;
  // Opens `name` for reading and writing, creating it when absent, and takes an exclusive,
  // non-blocking lock on it that lasts until the descriptor is closed. A lock already held, by this
  // process or another, fails with EWOULDBLOCK.
  virtual std::expected<Fd, LockFailure> lock_file(Fd dir, const std::string& name) = 0;
  // pread/pwrite: may transfer fewer bytes than asked; 0 from read_at means end of file.
  virtual SysResult<size_t> read_at(Fd fd, uint64_t offset, std::span<uint8_t> buffer) = 0;
  virtual SysResult<size_t> write_at(Fd fd, uint64_t offset, std::span<const uint8_t> data) = 0;
  // Flushes a file or a directory to stable storage (F_FULLFSYNC where it exists, fsync otherwise).
  virtual SysResult<void> sync(Fd fd) = 0;
  // Starts the flush of `fd` as `sync` does, so that the caller can work on other files while it is
  // in flight; `fd` is neither written nor closed before the flush was waited for. The flush may
  // complete at any moment until `wait` returns. By default it runs here, before this returns.
  virtual SysResult<std::unique_ptr<PendingSync>> start_sync(Fd fd);
  virtual SysResult<uint64_t> file_size(Fd fd) = 0;
  virtual SysResult<void> truncate(Fd fd, uint64_t length) = 0;
  virtual SysResult<void> rename_at(Fd dir, const std::string& from, const std::string& to) = 0;
  // getentropy: at most 256 bytes per call.
  virtual SysResult<void> random_bytes(std::span<uint8_t> out) = 0;
  virtual void close(Fd fd) = 0;
  // Closes `fd` without waiting for the system to let the file go (freeing a file whose last name
  // is gone takes a while): after the flushes started before, possibly once this returned. By
  // default it closes here.
  virtual void close_later(Fd fd);
};

// The process-wide POSIX implementation: `start_sync` flushes in the calling thread.
std::shared_ptr<Fs> posix_fs();
// A POSIX implementation for one store's writer: flushes started with `start_sync` and closes given
// to `close_later` run in order on one thread of its own, started at the first of them and joined
// when the file system is destroyed. A forked child must not use it.
std::shared_ptr<Fs> posix_writer_fs();

// "{description} (os error {number})", the description being the system's English text.
std::string os_error_text(int error);
construct::EngineError os_error(int error);

inline constexpr std::string_view kFillFailure = "failed to fill whole buffer";
inline constexpr std::string_view kWriteZeroFailure = "failed to write whole buffer";

// Writes all of `data` at `offset`, retrying short writes and EINTR. `Persistence` on failure.
construct::Result<void> write_all(Fs& fs, Fd fd, uint64_t offset, std::span<const uint8_t> data);
// Fills `buffer` from `offset`, retrying short reads and EINTR. On failure, the I/O text: the OS
// error's text, or "failed to fill whole buffer" at end of file.
std::expected<void, std::string> read_exact(Fs& fs, Fd fd, uint64_t offset, std::span<uint8_t> buffer);
// Reads the whole file from offset 0 to its end, retrying EINTR.
SysResult<std::vector<uint8_t>> read_to_end(Fs& fs, Fd fd);

// An owned descriptor of an Fs, closed on destruction.
class UniqueFd {
 public:
  UniqueFd() = default;
  UniqueFd(Fs* fs, Fd fd) : fs_(fs), fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fs_(other.fs_), fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      reset();
      fs_ = other.fs_;
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  Fd get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  // Gives up ownership of the descriptor.
  Fd release() { return std::exchange(fd_, -1); }
  void reset() {
    if (fd_ >= 0) fs_->close(std::exchange(fd_, -1));
  }

 private:
  Fs* fs_ = nullptr;
  Fd fd_ = -1;
};

}  // namespace brackwater::storage
