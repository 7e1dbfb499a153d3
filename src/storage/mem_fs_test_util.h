// Test double: an in-memory file system that tracks what is durable.
//
// File data becomes durable when the file is synced; directory entries (mkdir, create, rename) when
// their directory is synced. A started flush makes the data the file held at its start durable only
// when it is waited for, the latest moment a real one may complete. `after_crash` builds the file system a machine would find after power
// loss: for each directory and file it keeps the durable state, the current state, or (files) a torn
// mixture of the two, as the chosen variant says. Reachability from the root decides what survives.
#pragma once

#include <errno.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "storage/fs.h"

namespace brackwater::storage::testing {

// A started flush that runs `finish` when it is waited for.
template <class F>
std::unique_ptr<PendingSync> deferred_sync(F finish) {
  struct Deferred final : PendingSync {
    explicit Deferred(F f) : finish(std::move(f)) {}
    F finish;
    SysResult<void> wait() override { return finish(); }
  };
  return std::make_unique<Deferred>(std::move(finish));
}

enum class DirState { Durable, Current };
enum class FileState { Durable, Current, TornHalf, ZeroFill };

struct CrashVariant {
  std::string name;
  std::function<DirState(int inode)> dir;
  std::function<FileState(int inode)> file;
};

// The fixed adversarial variants (every directory state with every file state) plus `random_count`
// seeded per-node mixtures.
inline std::vector<CrashVariant> crash_variants(int random_count = 4) {
  std::vector<CrashVariant> out;
  const char* file_names[] = {"files-durable", "files-current", "files-torn", "files-zero"};
  for (DirState d : {DirState::Durable, DirState::Current}) {
    for (int f = 0; f < 4; ++f) {
      out.push_back({std::string(d == DirState::Durable ? "dirs-durable/" : "dirs-current/") + file_names[f],
                     [d](int) { return d; }, [f](int) { return static_cast<FileState>(f); }});
    }
  }
  for (int seed = 1; seed <= random_count; ++seed) {
    auto mix = [seed](int inode, int salt) {
      uint64_t x = uint64_t(seed) * 0x9E3779B97F4A7C15ULL ^ uint64_t(inode) * 0xC2B2AE3D27D4EB4FULL ^ uint64_t(salt);
      x = (x ^ (x >> 31)) * 0xBF58476D1CE4E5B9ULL;
      return x ^ (x >> 29);
    };
    out.push_back({"random-" + std::to_string(seed),
                   [mix](int inode) { return mix(inode, 1) % 2 ? DirState::Current : DirState::Durable; },
                   [mix](int inode) { return static_cast<FileState>(mix(inode, 2) % 4); }});
  }
  return out;
}

class MemFs final : public Fs {
 public:
  MemFs() { nodes_[kRoot] = Node(true, kRoot); }

  SysResult<void> make_dir(const std::string& path) override {
    auto at = resolve_parent(kRoot, path);
    if (!at) return std::unexpected(at.error());
    auto [parent, last] = *at;
    if (last.empty() || last == "." || last == ".." || nodes_[parent].entries.count(last)) return std::unexpected(EEXIST);
    nodes_[next_inode_] = Node(true, parent);
    nodes_[parent].entries[last] = next_inode_++;
    return {};
  }

  SysResult<bool> is_dir(const std::string& path) override {
    auto inode = resolve(kRoot, path);
    if (!inode) return std::unexpected(inode.error());
    return nodes_[*inode].is_dir;
  }

  SysResult<Fd> open_at(Fd dir_fd, const std::string& name, OpenMode mode) override {
    auto base = base_of(dir_fd, name);
    if (!base) return std::unexpected(base.error());
    if (mode == OpenMode::Directory) {
      auto inode = resolve(*base, name);
      if (!inode) return std::unexpected(inode.error());
      if (!nodes_[*inode].is_dir) return std::unexpected(ENOTDIR);
      return add_fd(*inode);
    }
    auto at = resolve_parent(*base, name);
    if (!at) return std::unexpected(at.error());
    auto& entries = nodes_[at->first].entries;
    auto it = entries.find(at->second);
    if (it == entries.end()) {
      if (mode != OpenMode::ReadWriteCreate && mode != OpenMode::CreateNew && mode != OpenMode::WriteTruncate) {
        return std::unexpected(ENOENT);
      }
      nodes_[next_inode_] = Node{};
      entries[at->second] = next_inode_;
      return add_fd(next_inode_++);
    }
    if (mode == OpenMode::CreateNew) return std::unexpected(EEXIST);
    Node& node = nodes_[it->second];
    if (node.is_dir) return std::unexpected(EISDIR);
    if (mode == OpenMode::WriteTruncate) node.data.clear();
    return add_fd(it->second);
  }

  SysResult<bool> exists_at(Fd dir_fd, const std::string& name) override {
    auto base = base_of(dir_fd, name);
    if (!base) return std::unexpected(base.error());
    auto inode = resolve(*base, name);
    if (inode || inode.error() == ENOENT) return inode.has_value();
    return std::unexpected(inode.error());
  }

  std::expected<Fd, LockFailure> lock_file(Fd dir_fd, const std::string& name) override {
    auto fd = open_at(dir_fd, name, OpenMode::ReadWriteCreate);
    if (!fd) return std::unexpected(LockFailure{fd.error(), false});
    const int inode = fds_[*fd];
    if (std::ranges::any_of(lock_of_, [inode](const auto& held) { return held.second == inode; })) {
      close(*fd);
      return std::unexpected(LockFailure{EWOULDBLOCK, true});
    }
    lock_of_[*fd] = inode;
    return *fd;
  }

  SysResult<size_t> read_at(Fd fd, uint64_t offset, std::span<uint8_t> buffer) override {
    return on_file(fd, [&](Node& node) -> SysResult<size_t> {
      if (offset >= node.data.size()) return 0;
      const size_t n = std::min<uint64_t>(buffer.size(), node.data.size() - offset);
      std::memcpy(buffer.data(), node.data.data() + offset, n);
      return n;
    });
  }

  SysResult<size_t> write_at(Fd fd, uint64_t offset, std::span<const uint8_t> bytes) override {
    return on_file(fd, [&](Node& node) -> SysResult<size_t> {
      if (node.data.size() < offset + bytes.size()) node.data.resize(offset + bytes.size());
      std::memcpy(node.data.data() + offset, bytes.data(), bytes.size());
      return bytes.size();
    });
  }

  SysResult<void> sync(Fd fd) override {
    auto it = fds_.find(fd);
    if (it == fds_.end()) return std::unexpected(EBADF);
    Node& node = nodes_[it->second];
    if (node.is_dir) node.durable_entries = node.entries;
    else node.durable = node.data;
    return {};
  }

  SysResult<std::unique_ptr<PendingSync>> start_sync(Fd fd) override {
    return on_file(fd, [](Node& node) -> SysResult<std::unique_ptr<PendingSync>> {
      return deferred_sync([&node, data = node.data]() mutable -> SysResult<void> {
        node.durable = std::move(data);
        return {};
      });
    });
  }

  SysResult<uint64_t> file_size(Fd fd) override {
    return on_file(fd, [](Node& node) -> SysResult<uint64_t> { return node.data.size(); });
  }

  SysResult<void> truncate(Fd fd, uint64_t length) override {
    return on_file(fd, [&](Node& node) -> SysResult<void> {
      node.data.resize(length);
      return {};
    });
  }

  SysResult<void> rename_at(Fd dir_fd, const std::string& from, const std::string& to) override {
    auto it = fds_.find(dir_fd);
    if (it == fds_.end() || !nodes_[it->second].is_dir) return std::unexpected(EBADF);
    auto& entries = nodes_[it->second].entries;
    auto source = entries.find(from);
    if (source == entries.end()) return std::unexpected(ENOENT);
    const int inode = source->second;
    entries.erase(source);
    entries[to] = inode;
    return {};
  }

  SysResult<void> random_bytes(std::span<uint8_t> out) override {
    for (auto& b : out) b = static_cast<uint8_t>(++entropy_ * 131);
    return {};
  }

  void close(Fd fd) override {
    lock_of_.erase(fd);
    fds_.erase(fd);
  }

  // A file system whose file "log" holds `bytes`, and that file open.
  static std::pair<std::shared_ptr<MemFs>, Fd> with_log(std::span<const uint8_t> bytes) {
    auto fs = std::make_shared<MemFs>();
    const Fd fd = *fs->open_at(kCurrentDir, "log", OpenMode::CreateNew);
    (void)write_all(*fs, fd, 0, bytes);
    return {fs, fd};
  }

  // The machine after power loss under `variant`: no open descriptors, no locks.
  std::shared_ptr<MemFs> after_crash(const CrashVariant& variant) const {
    auto out = std::make_shared<MemFs>();
    out->next_inode_ = next_inode_;
    out->entropy_ = entropy_ + 1000;
    for (const auto& [inode, node] : nodes_) {
      Node& copy = out->nodes_[inode] = node;
      if (node.is_dir) {
        copy.entries = copy.durable_entries =
            variant.dir(inode) == DirState::Durable ? node.durable_entries : node.entries;
      } else {
        copy.data = copy.durable = crashed_data(node.durable, node.data, variant.file(inode));
      }
    }
    return out;
  }

 private:
  static constexpr int kRoot = 1;

  struct Node {
    explicit Node(bool dir = false, int up = kRoot) : is_dir(dir), parent(up) {}
    bool is_dir;
    int parent;
    std::vector<uint8_t> data, durable;               // files
    std::map<std::string, int> entries, durable_entries;  // directories
  };

  static std::vector<uint8_t> crashed_data(const std::vector<uint8_t>& durable, const std::vector<uint8_t>& current,
                                           FileState state) {
    size_t common = 0;
    while (common < durable.size() && common < current.size() && durable[common] == current[common]) ++common;
    std::vector<uint8_t> out = state == FileState::Durable ? durable : current;
    if (state == FileState::TornHalf) {
      const size_t k = std::min(current.size(), common + (std::max(current.size(), durable.size()) - common) / 2);
      out.resize(k);
      if (k < durable.size()) out.insert(out.end(), durable.begin() + k, durable.end());
    } else if (state == FileState::ZeroFill) {
      std::fill(out.begin() + common, out.end(), 0);
    }
    return out;
  }

  // Runs `f` on the file open as `fd`.
  template <class F>
  auto on_file(Fd fd, F&& f) -> decltype(f(std::declval<Node&>())) {
    auto it = fds_.find(fd);
    if (it == fds_.end()) return std::unexpected(EBADF);
    Node& node = nodes_[it->second];
    if (node.is_dir) return std::unexpected(EISDIR);
    return f(node);
  }

  SysResult<int> base_of(Fd dir_fd, const std::string& name) {
    if ((!name.empty() && name[0] == '/') || dir_fd == kCurrentDir) return kRoot;
    auto it = fds_.find(dir_fd);
    if (it == fds_.end()) return std::unexpected(EBADF);
    if (!nodes_[it->second].is_dir) return std::unexpected(ENOTDIR);
    return it->second;
  }

  static std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    std::istringstream in(path);
    for (std::string part; std::getline(in, part, '/');) {
      if (!part.empty() && part != ".") parts.push_back(part);
    }
    return parts;
  }

  // The node reached from `at` through `parts`.
  SysResult<int> walk(int at, std::span<const std::string> parts) {
    for (const auto& part : parts) {
      if (!nodes_[at].is_dir) return std::unexpected(ENOTDIR);
      if (part == "..") {
        at = nodes_[at].parent;
        continue;
      }
      auto it = nodes_[at].entries.find(part);
      if (it == nodes_[at].entries.end()) return std::unexpected(ENOENT);
      at = it->second;
    }
    return at;
  }

  SysResult<int> resolve(int base, const std::string& path) { return walk(base, split(path)); }

  // The directory that holds the last component of `path`, and that component.
  SysResult<std::pair<int, std::string>> resolve_parent(int base, const std::string& path) {
    auto parts = split(path);
    if (parts.empty()) return std::pair{base, std::string(".")};
    auto at = walk(base, std::span(parts).first(parts.size() - 1));
    if (!at) return std::unexpected(at.error());
    if (!nodes_[*at].is_dir) return std::unexpected(ENOTDIR);
    return std::pair{*at, parts.back()};
  }

  Fd add_fd(int inode) {
    fds_[next_fd_] = inode;
    return next_fd_++;
  }

  std::map<int, Node> nodes_;
  int next_inode_ = 2;
  std::map<Fd, int> fds_;
  Fd next_fd_ = 3;
  std::map<Fd, int> lock_of_;  // the inode each lock descriptor holds
  uint64_t entropy_ = 0;
};

}  // namespace brackwater::storage::testing
