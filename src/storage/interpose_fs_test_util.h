// Test double: wraps a file system, records every call as "op target" and injects one fault at the
// k-th call (counting from 0): an errno, a short transfer, a zero-byte write, one EINTR, or a crash
// after which every call fails with EIO and changes nothing.
#pragma once

#include <errno.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/fs.h"
#include "storage/mem_fs_test_util.h"  // deferred_sync

namespace brackwater::storage::testing {

enum class FaultKind { Errno, ShortTransfer, ZeroWrite, InterruptOnce, Crash };

struct FaultPlan {
  uint64_t at = UINT64_MAX;
  FaultKind kind = FaultKind::Errno;
  int error = EIO;
};

class InterposeFs final : public Fs {
 public:
  explicit InterposeFs(std::shared_ptr<Fs> inner, FaultPlan plan = {}) : inner_(std::move(inner)), plan_(plan) {}

  std::vector<std::string> trace;  // one entry per call, close included
  bool renamed = false;            // whether a rename reached the inner file system

  // Schedules the fault for the k-th call from now.
  void arm(uint64_t k, FaultKind kind, int error = EIO) {
    plan_ = FaultPlan{calls_ + k, kind, error};
    fired_ = false;
  }
  uint64_t calls() const { return calls_; }
  bool crashed() const { return crashed_; }
  bool fault_fired() const { return fired_; }
  const std::string& faulted_call() const { return faulted_call_; }  // the call the fault was injected into

  SysResult<void> make_dir(const std::string& path) override {
    return pass("mkdir " + path, [&] { return inner_->make_dir(path); });
  }
  SysResult<bool> is_dir(const std::string& path) override {
    return pass("stat " + path, [&] { return inner_->is_dir(path); });
  }
  SysResult<Fd> open_at(Fd dir, const std::string& name, OpenMode mode) override {
    return named(name, pass("open " + name, [&] { return inner_->open_at(dir, name, mode); }));
  }
  SysResult<bool> exists_at(Fd dir, const std::string& name) override {
    return pass("exists " + name, [&] { return inner_->exists_at(dir, name); });
  }
  std::expected<Fd, LockFailure> lock_file(Fd dir, const std::string& name) override {
    if (auto f = enter("lock " + name)) return std::unexpected(LockFailure{*f, false});
    return named(name, inner_->lock_file(dir, name));
  }
  SysResult<size_t> read_at(Fd fd, uint64_t offset, std::span<uint8_t> buffer) override {
    return pass("read " + name(fd), [&] { return inner_->read_at(fd, offset, shortened(buffer)); });
  }
  SysResult<size_t> write_at(Fd fd, uint64_t offset, std::span<const uint8_t> data) override {
    return pass("write " + name(fd), [&] { return zero_now_ ? size_t(0) : inner_->write_at(fd, offset, shortened(data)); });
  }
  SysResult<void> sync(Fd fd) override {
    return pass("sync " + name(fd), [&] { return inner_->sync(fd); });
  }
  // A started flush is two calls; one that the crash cut off never completes.
  SysResult<std::unique_ptr<PendingSync>> start_sync(Fd fd) override {
    return pass("start sync " + name(fd), [&]() -> SysResult<std::unique_ptr<PendingSync>> {
      auto inner = inner_->start_sync(fd);
      if (!inner) return std::unexpected(inner.error());
      return deferred_sync([this, inner = std::move(*inner), call = "finish sync " + name(fd)]() -> SysResult<void> {
        const auto fault = enter(call);
        if (crashed_) return std::unexpected(EIO);
        auto r = inner->wait();
        if (fault) return std::unexpected(*fault);
        return r;
      });
    });
  }
  SysResult<uint64_t> file_size(Fd fd) override {
    return pass("size " + name(fd), [&] { return inner_->file_size(fd); });
  }
  SysResult<void> truncate(Fd fd, uint64_t length) override {
    return pass("truncate " + name(fd), [&] { return inner_->truncate(fd, length); });
  }
  SysResult<void> rename_at(Fd dir, const std::string& from, const std::string& to) override {
    auto r = pass("rename " + from + " " + to, [&] { return inner_->rename_at(dir, from, to); });
    renamed = renamed || r.has_value();
    return r;
  }
  SysResult<void> random_bytes(std::span<uint8_t> out) override {
    return pass("entropy", [&] { return inner_->random_bytes(out); });
  }
  void close(Fd fd) override {
    trace.push_back("close " + name(fd));
    names_.erase(fd);
    inner_->close(fd);
  }
  void close_later(Fd fd) override {
    trace.push_back("close later " + name(fd));
    names_.erase(fd);
    inner_->close_later(fd);
  }

 private:
  std::string name(Fd fd) const {
    auto it = names_.find(fd);
    return it == names_.end() ? "?" : it->second;
  }

  // Records the call and runs `inner` unless the call must fail.
  template <class F>
  auto pass(std::string call, F&& inner) -> decltype(inner()) {
    if (auto f = enter(std::move(call))) return std::unexpected(*f);
    return inner();
  }
  // Remembers the name of the descriptor `fd` opened.
  template <class R>
  R named(const std::string& name, R fd) {
    if (fd) names_[*fd] = name;
    return fd;
  }
  template <class T>
  std::span<T> shortened(std::span<T> bytes) const {
    return short_now_ && bytes.size() > 1 ? bytes.first(bytes.size() / 2) : bytes;
  }

  // Records the call; returns the errno it must fail with, if any.
  std::optional<int> enter(std::string call) {
    trace.push_back(std::move(call));
    short_now_ = zero_now_ = false;
    if (crashed_) return EIO;
    if (calls_++ != plan_.at) return std::nullopt;
    fired_ = true;
    faulted_call_ = trace.back();
    switch (plan_.kind) {
      case FaultKind::Errno: return plan_.error;
      case FaultKind::InterruptOnce: return EINTR;
      case FaultKind::ShortTransfer: short_now_ = true; return std::nullopt;
      case FaultKind::ZeroWrite: zero_now_ = true; return std::nullopt;
      case FaultKind::Crash: crashed_ = true; return EIO;
    }
    return std::nullopt;
  }

  std::shared_ptr<Fs> inner_;
  FaultPlan plan_;
  uint64_t calls_ = 0;
  bool crashed_ = false, fired_ = false, short_now_ = false, zero_now_ = false;
  std::map<Fd, std::string> names_;
  std::string faulted_call_;
};

}  // namespace brackwater::storage::testing
