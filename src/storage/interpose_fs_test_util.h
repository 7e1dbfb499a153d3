// Test double: wraps a file system, records every call as "op target" and injects one fault at the
// k-th call (counting from 0): an errno, a short transfer, a zero-byte write, one EINTR, or a crash
// after which every call fails with EIO and changes nothing. A started flush is two calls, "start
// sync" and "finish sync"; one that the crash cut off never completes.
#pragma once

#include <errno.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/fs.h"

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

  // Schedules the fault for the k-th call from now.
  void arm(uint64_t k, FaultKind kind, int error = EIO) {
    plan_ = FaultPlan{calls_ + k, kind, error};
    fired_ = false;
  }
  uint64_t calls() const { return calls_; }
  bool crashed() const { return crashed_; }
  bool fault_fired() const { return fired_; }
  // The call the fault was injected into.
  const std::string& faulted_call() const { return faulted_call_; }
  // Whether a rename reached the inner file system.
  bool renamed = false;

  SysResult<void> make_dir(const std::string& path) override {
    if (auto f = enter("mkdir " + path)) return std::unexpected(*f);
    return inner_->make_dir(path);
  }
  SysResult<bool> is_dir(const std::string& path) override {
    if (auto f = enter("stat " + path)) return std::unexpected(*f);
    return inner_->is_dir(path);
  }
  SysResult<Fd> open_at(Fd dir, const std::string& name, OpenMode mode) override {
    if (auto f = enter("open " + name)) return std::unexpected(*f);
    auto fd = inner_->open_at(dir, name, mode);
    if (fd) names_[*fd] = name;
    return fd;
  }
  SysResult<bool> exists_at(Fd dir, const std::string& name) override {
    if (auto f = enter("exists " + name)) return std::unexpected(*f);
    return inner_->exists_at(dir, name);
  }
  std::expected<Fd, LockFailure> lock_file(Fd dir, const std::string& name) override {
    if (auto f = enter("lock " + name)) return std::unexpected(LockFailure{*f, false});
    auto fd = inner_->lock_file(dir, name);
    if (fd) names_[*fd] = name;
    return fd;
  }
  SysResult<size_t> read_at(Fd fd, uint64_t offset, std::span<uint8_t> buffer) override {
    if (auto f = enter("read " + name(fd))) return std::unexpected(*f);
    if (short_now_ && buffer.size() > 1) buffer = buffer.first(buffer.size() / 2);
    return inner_->read_at(fd, offset, buffer);
  }
  SysResult<size_t> write_at(Fd fd, uint64_t offset, std::span<const uint8_t> data) override {
    if (auto f = enter("write " + name(fd))) return std::unexpected(*f);
    if (zero_now_) return size_t(0);
    if (short_now_ && data.size() > 1) data = data.first(data.size() / 2);
    return inner_->write_at(fd, offset, data);
  }
  SysResult<void> sync(Fd fd) override {
    if (auto f = enter("sync " + name(fd))) return std::unexpected(*f);
    return inner_->sync(fd);
  }
  SysResult<std::unique_ptr<PendingSync>> start_sync(Fd fd) override {
    if (auto f = enter("start sync " + name(fd))) return std::unexpected(*f);
    auto inner = inner_->start_sync(fd);
    if (!inner) return std::unexpected(inner.error());
    return std::unique_ptr<PendingSync>(std::make_unique<Flush>(*this, std::move(*inner), name(fd)));
  }
  SysResult<uint64_t> file_size(Fd fd) override {
    if (auto f = enter("size " + name(fd))) return std::unexpected(*f);
    return inner_->file_size(fd);
  }
  SysResult<void> truncate(Fd fd, uint64_t length) override {
    if (auto f = enter("truncate " + name(fd))) return std::unexpected(*f);
    return inner_->truncate(fd, length);
  }
  SysResult<void> rename_at(Fd dir, const std::string& from, const std::string& to) override {
    if (auto f = enter("rename " + from + " " + to)) return std::unexpected(*f);
    auto r = inner_->rename_at(dir, from, to);
    renamed = renamed || r.has_value();
    return r;
  }
  SysResult<void> random_bytes(std::span<uint8_t> out) override {
    if (auto f = enter("entropy")) return std::unexpected(*f);
    return inner_->random_bytes(out);
  }
  void close(Fd fd) override {
    trace.push_back("close " + name(fd));
    names_.erase(fd);
    inner_->close(fd);
  }

 private:
  class Flush final : public PendingSync {
   public:
    Flush(InterposeFs& fs, std::unique_ptr<PendingSync> inner, std::string name)
        : fs_(fs), inner_(std::move(inner)), name_(std::move(name)) {}
    SysResult<void> wait() override {
      const auto fault = fs_.enter("finish sync " + name_);
      if (fs_.crashed_) return std::unexpected(EIO);
      auto r = inner_->wait();
      if (fault) return std::unexpected(*fault);
      return r;
    }

   private:
    InterposeFs& fs_;
    std::unique_ptr<PendingSync> inner_;
    std::string name_;
  };

  std::string name(Fd fd) const {
    auto it = names_.find(fd);
    return it == names_.end() ? "?" : it->second;
  }

  // Records the call; returns the errno it must fail with, if any.
  std::optional<int> enter(std::string call) {
    trace.push_back(std::move(call));
    short_now_ = zero_now_ = false;
    if (crashed_) return EIO;
    const uint64_t index = calls_++;
    if (index != plan_.at) return std::nullopt;
    fired_ = true;
    faulted_call_ = trace.back();
    switch (plan_.kind) {
      case FaultKind::Errno:
        return plan_.error;
      case FaultKind::InterruptOnce:
        return EINTR;
      case FaultKind::ShortTransfer:
        short_now_ = true;
        return std::nullopt;
      case FaultKind::ZeroWrite:
        zero_now_ = true;
        return std::nullopt;
      case FaultKind::Crash:
        crashed_ = true;
        return EIO;
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
