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
#include <set>
#include <string>
#include <vector>

#include "storage/fs.h"

namespace brackwater::storage::testing {

enum class DirState { Durable, Current };
enum class FileState { Durable, Current, TornHalf, ZeroFill };

struct CrashVariant {
  std::string name;
  std::function<DirState(int inode)> dir;
  std::function<FileState(int inode)> file;
};

// The fixed adversarial variants plus `random_count` seeded per-node mixtures.
inline std::vector<CrashVariant> crash_variants(int random_count = 4) {
  std::vector<CrashVariant> out;
  const DirState dirs[] = {DirState::Durable, DirState::Current};
  const FileState files[] = {FileState::Durable, FileState::Current, FileState::TornHalf, FileState::ZeroFill};
  const char* dir_names[] = {"dirs-durable", "dirs-current"};
  const char* file_names[] = {"files-durable", "files-current", "files-torn", "files-zero"};
  for (int d = 0; d < 2; ++d) {
    for (int f = 0; f < 4; ++f) {
      DirState ds = dirs[d];
      FileState fs = files[f];
      out.push_back({std::string(dir_names[d]) + "/" + file_names[f], [ds](int) { return ds; },
                     [fs](int) { return fs; }});
    }
  }
  for (int seed = 1; seed <= random_count; ++seed) {
    auto mix = [seed](int inode, int salt) {
      uint64_t x = uint64_t(seed) * 0x9E3779B97F4A7C15ULL ^ uint64_t(inode) * 0xC2B2AE3D27D4EB4FULL ^ uint64_t(salt);
      x ^= x >> 31;
      x *= 0xBF58476D1CE4E5B9ULL;
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
  MemFs() { nodes_[kRoot] = Node{true, {}, {}, {}, {}, kRoot}; }

  SysResult<void> make_dir(const std::string& path) override {
    auto at = resolve_parent(kRoot, path);
    if (!at) return std::unexpected(at.error());
    auto [parent, last] = *at;
    if (last.empty() || last == "." || last == ".." || dir(parent).entries.count(last)) return std::unexpected(EEXIST);
    const int inode = next_inode_++;
    nodes_[inode] = Node{true, {}, {}, {}, {}, parent};
    dir(parent).entries[last] = inode;
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
    auto [parent, last] = *at;
    auto& entries = dir(parent).entries;
    auto it = entries.find(last);
    const bool creates = mode == OpenMode::ReadWriteCreate || mode == OpenMode::CreateNew ||
                         mode == OpenMode::WriteTruncate;
    if (it == entries.end()) {
      if (!creates) return std::unexpected(ENOENT);
      const int inode = next_inode_++;
      nodes_[inode] = Node{};
      entries[last] = inode;
      return add_fd(inode);
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
    if (inode) return true;
    if (inode.error() == ENOENT) return false;
    return std::unexpected(inode.error());
  }

  std::expected<Fd, LockFailure> lock_file(Fd dir_fd, const std::string& name) override {
    auto fd = open_at(dir_fd, name, OpenMode::ReadWriteCreate);
    if (!fd) return std::unexpected(LockFailure{fd.error(), false});
    const int inode = fds_[*fd];
    if (locked_.count(inode)) {
      close(*fd);
      return std::unexpected(LockFailure{EWOULDBLOCK, true});
    }
    locked_.insert(inode);
    lock_of_[*fd] = inode;
    return *fd;
  }

  SysResult<size_t> read_at(Fd fd, uint64_t offset, std::span<uint8_t> buffer) override {
    auto node = file_of(fd);
    if (!node) return std::unexpected(node.error());
    const auto& data = (*node)->data;
    if (offset >= data.size()) return size_t(0);
    const size_t n = std::min<uint64_t>(buffer.size(), data.size() - offset);
    std::memcpy(buffer.data(), data.data() + offset, n);
    return n;
  }

  SysResult<size_t> write_at(Fd fd, uint64_t offset, std::span<const uint8_t> bytes) override {
    auto node = file_of(fd);
    if (!node) return std::unexpected(node.error());
    auto& data = (*node)->data;
    if (data.size() < offset + bytes.size()) data.resize(offset + bytes.size());
    std::memcpy(data.data() + offset, bytes.data(), bytes.size());
    return bytes.size();
  }

  SysResult<void> sync(Fd fd) override {
    auto it = fds_.find(fd);
    if (it == fds_.end()) return std::unexpected(EBADF);
    Node& node = nodes_[it->second];
    if (node.is_dir) {
      node.durable_entries = node.entries;
    } else {
      node.durable = node.data;
    }
    return {};
  }

  SysResult<std::unique_ptr<PendingSync>> start_sync(Fd fd) override {
    auto node = file_of(fd);
    if (!node) return std::unexpected(node.error());
    return std::unique_ptr<PendingSync>(std::make_unique<Flush>(**node));
  }

  SysResult<uint64_t> file_size(Fd fd) override {
    auto node = file_of(fd);
    if (!node) return std::unexpected(node.error());
    return (*node)->data.size();
  }

  SysResult<void> truncate(Fd fd, uint64_t length) override {
    auto node = file_of(fd);
    if (!node) return std::unexpected(node.error());
    (*node)->data.resize(length);
    return {};
  }

  SysResult<void> rename_at(Fd dir_fd, const std::string& from, const std::string& to) override {
    auto it = fds_.find(dir_fd);
    if (it == fds_.end() || !nodes_[it->second].is_dir) return std::unexpected(EBADF);
    auto& entries = dir(it->second).entries;
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
    if (auto it = lock_of_.find(fd); it != lock_of_.end()) {
      locked_.erase(it->second);
      lock_of_.erase(it);
    }
    fds_.erase(fd);
  }

  // The machine after power loss under `variant`: no open descriptors, no locks.
  std::shared_ptr<MemFs> after_crash(const CrashVariant& variant) const {
    auto out = std::make_shared<MemFs>();
    out->next_inode_ = next_inode_;
    out->entropy_ = entropy_ + 1000;
    for (const auto& [inode, node] : nodes_) {
      Node copy = node;
      if (node.is_dir) {
        copy.entries = variant.dir(inode) == DirState::Durable ? node.durable_entries : node.entries;
        copy.durable_entries = copy.entries;
      } else {
        copy.data = crashed_data(node.durable, node.data, variant.file(inode));
        copy.durable = copy.data;
      }
      out->nodes_[inode] = std::move(copy);
    }
    return out;
  }

  // The current content of a file (tests), or nullptr.
  std::vector<uint8_t>* file(const std::string& path) {
    auto inode = resolve(kRoot, path);
    if (!inode || nodes_[*inode].is_dir) return nullptr;
    return &nodes_[*inode].data;
  }

 private:
  static constexpr int kRoot = 1;

  struct Node {
    bool is_dir = false;
    std::vector<uint8_t> data, durable;               // files
    std::map<std::string, int> entries, durable_entries;  // directories
    int parent = kRoot;
  };

  class Flush final : public PendingSync {
   public:
    explicit Flush(Node& node) : node_(node), data_(node.data) {}
    SysResult<void> wait() override {
      node_.durable = std::move(data_);
      return {};
    }

   private:
    Node& node_;
    std::vector<uint8_t> data_;
  };

  static std::vector<uint8_t> crashed_data(const std::vector<uint8_t>& durable, const std::vector<uint8_t>& current,
                                           FileState state) {
    size_t common = 0;
    while (common < durable.size() && common < current.size() && durable[common] == current[common]) ++common;
    switch (state) {
      case FileState::Durable:
        return durable;
      case FileState::Current:
        return current;
      case FileState::TornHalf: {
        const size_t k = std::min(current.size(), common + (std::max(current.size(), durable.size()) - common) / 2);
        std::vector<uint8_t> out(current.begin(), current.begin() + k);
        if (k < durable.size()) out.insert(out.end(), durable.begin() + k, durable.end());
        return out;
      }
      case FileState::ZeroFill: {
        std::vector<uint8_t> out = current;
        std::fill(out.begin() + common, out.end(), 0);
        return out;
      }
    }
    return current;
  }

  Node& dir(int inode) { return nodes_[inode]; }

  SysResult<int> base_of(Fd dir_fd, const std::string& name) {
    if (!name.empty() && name[0] == '/') return kRoot;
    if (dir_fd == kCurrentDir) return kRoot;
    auto it = fds_.find(dir_fd);
    if (it == fds_.end()) return std::unexpected(EBADF);
    if (!nodes_[it->second].is_dir) return std::unexpected(ENOTDIR);
    return it->second;
  }

  static std::vector<std::string> split(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
      size_t j = path.find('/', i);
      if (j == std::string::npos) j = path.size();
      std::string part = path.substr(i, j - i);
      if (!part.empty() && part != ".") parts.push_back(part);
      i = j + 1;
    }
    return parts;
  }

  SysResult<int> step(int at, const std::string& part) {
    if (!nodes_[at].is_dir) return std::unexpected(ENOTDIR);
    if (part == "..") return nodes_[at].parent;
    auto& entries = nodes_[at].entries;
    auto it = entries.find(part);
    if (it == entries.end()) return std::unexpected(ENOENT);
    return it->second;
  }

  SysResult<int> resolve(int base, const std::string& path) {
    int at = base;
    for (const auto& part : split(path)) {
      auto next = step(at, part);
      if (!next) return next;
      at = *next;
    }
    return at;
  }

  SysResult<std::pair<int, std::string>> resolve_parent(int base, const std::string& path) {
    auto parts = split(path);
    if (parts.empty()) return std::pair{base, std::string(".")};
    int at = base;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
      auto next = step(at, parts[i]);
      if (!next) return std::unexpected(next.error());
      at = *next;
    }
    if (!nodes_[at].is_dir) return std::unexpected(ENOTDIR);
    return std::pair{at, parts.back()};
  }

  Fd add_fd(int inode) {
    const Fd fd = next_fd_++;
    fds_[fd] = inode;
    return fd;
  }

  SysResult<Node*> file_of(Fd fd) {
    auto it = fds_.find(fd);
    if (it == fds_.end()) return std::unexpected(EBADF);
    Node& node = nodes_[it->second];
    if (node.is_dir) return std::unexpected(EISDIR);
    return &node;
  }

  std::map<int, Node> nodes_;
  int next_inode_ = 2;
  std::map<Fd, int> fds_;
  Fd next_fd_ = 3;
  std::set<int> locked_;
  std::map<Fd, int> lock_of_;
  uint64_t entropy_ = 0;
};

}  // namespace brackwater::storage::testing
