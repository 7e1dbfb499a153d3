#include "storage/store.h"

#include <errno.h>
#include <unistd.h>

#include <limits>

#include "storage/fs.h"
#include "storage/log_frame.h"
#include "storage/manifest.h"
#include "storage/record_codec.h"
#include "storage/replay.h"
#include "storage/text.h"

namespace brackwater::storage {

namespace {

using construct::EngineError;
using construct::fail;

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();
constexpr std::string_view kLockName = "store.lock";
constexpr std::string_view kFailClosed =
    "store writer is fail-closed after an earlier uncertain write; reopen the store";
constexpr std::string_view kOtherProcess =
    "store belongs to the process that opened it; a forked process cannot write to it";
// Batch buffers up to this capacity are kept for the next append.
constexpr size_t kKeptBufferCapacity = size_t(4) << 20;

// Refuses a write in a forked child (it shares the parent's files but not its writer) and after an
// uncertain write.
Result<void> check_writable(pid_t owner, bool fail_closed) {
  if (owner != ::getpid()) return fail(EngineError::persistence(std::string(kOtherProcess)));
  if (fail_closed) return fail(EngineError::persistence(std::string(kFailClosed)));
  return {};
}

// The parent of `path` by components ("a/b/" -> "a", "/a" -> "/"); empty when it has none.
std::string parent_of(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  if (path == "/") return {};
  const size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {};
  std::string_view parent = path.substr(0, slash);
  while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);
  return parent.empty() ? std::string("/") : std::string(parent);
}

// Creates `path` and its missing parents (mkdir -p); returns how many directories it created. The
// created directories are the store directory and its nearest ancestors, one per level.
Result<unsigned> create_dir_all(Fs& fs, const std::string& path) {
  struct Step {
    std::string path;
    bool parent_ready = false;
  };
  unsigned created = 0;
  if (path.empty()) return created;
  std::vector<Step> chain;
  chain.push_back(Step{path});
  while (!chain.empty()) {
    Step& step = chain.back();
    auto r = fs.make_dir(step.path);
    bool done = false;
    if (r) {
      ++created;
      done = true;
    } else if (r.error() == ENOENT && !step.parent_ready) {
      std::string parent = parent_of(step.path);
      if (!parent.empty()) {
        step.parent_ready = true;
        chain.push_back(Step{std::move(parent)});
        continue;
      }
    } else if (r.error() != ENOENT) {
      auto dir = fs.is_dir(step.path);
      done = dir && *dir;
    }
    if (!done) return fail(os_error(r.error()));
    chain.pop_back();
  }
  return created;
}

Result<void> sync_or_fail(Fs& fs, Fd fd) {
  if (auto r = fs.sync(fd); !r) return fail(os_error(r.error()));
  return {};
}

// Makes the new directory entries durable: the store directory's entry in its parent, and the entry
// of every directory this open created in its own parent. Parents are reached through ".." of the
// kept handle, so a concurrent change of the working directory cannot redirect the flush.
Result<void> flush_parent_entries(Fs& fs, Fd dir, unsigned created_levels) {
  std::string up = "..";
  for (unsigned level = 0; level < std::max(created_levels, 1u); ++level) {
    if (level > 0) up += "/..";
    auto fd = fs.open_at(dir, up, OpenMode::Directory);
    if (!fd) return fail(os_error(fd.error()));
    UniqueFd parent(&fs, *fd);
    if (auto r = sync_or_fail(fs, parent.get()); !r) return r;
  }
  return {};
}

// Opens the log of a new store: created, or reused when it holds at most a header. Such a log
// without a manifest is left by a creation that stopped before its manifest existed, so nothing was
// ever committed; a longer log without a manifest is refused as it stands.
Result<UniqueFd> open_new_log(Fs& fs, Fd dir) {
  const std::string name(kLogSegmentName);
  auto fd = fs.open_at(dir, name, OpenMode::CreateNew);
  if (fd) return UniqueFd(&fs, *fd);
  if (fd.error() != EEXIST) return fail(os_error(fd.error()));
  auto again = fs.open_at(dir, name, OpenMode::ReadWrite);
  if (!again) return fail(os_error(again.error()));
  UniqueFd log(&fs, *again);
  auto size = fs.file_size(log.get());
  if (!size) return fail(os_error(size.error()));
  if (*size > kLogHeaderSize) return fail(os_error(EEXIST));
  return log;
}

// Writes a new store into the open directory: UUID, log header, manifest with committed length 64.
Result<Uuid> create_store(Fs& fs, Fd dir, unsigned created_levels) {
  Uuid uuid;
  if (auto r = fs.random_bytes(uuid); !r) {
    return fail(EngineError::persistence(str_cat("failed to generate store UUID: ", os_error_text(r.error()))));
  }
  uuid[6] = (uuid[6] & 0x0F) | 0x40;
  uuid[8] = (uuid[8] & 0x3F) | 0x80;
  {
    auto log = open_new_log(fs, dir);
    if (!log) return fail(std::move(log.error()));
    if (auto r = write_all(fs, log->get(), 0, encode_log_header(uuid)); !r) return fail(std::move(r.error()));
    if (auto r = sync_or_fail(fs, log->get()); !r) return fail(std::move(r.error()));
  }
  if (auto r = write_manifest(fs, dir, uuid, kLogHeaderSize); !r) return fail(std::move(r.error()));
  if (auto r = flush_parent_entries(fs, dir, created_levels); !r) return fail(std::move(r.error()));
  return uuid;
}

Result<ManifestV1> read_manifest(Fs& fs, Fd dir) {
  auto fd = fs.open_at(dir, std::string(kManifestName), OpenMode::Read);
  if (!fd) return fail(os_error(fd.error()));
  UniqueFd file(&fs, *fd);
  auto bytes = read_to_end(fs, file.get());
  if (!bytes) return fail(os_error(bytes.error()));
  file.reset();
  return decode_manifest(*bytes);
}

}  // namespace

struct Store::State {
  std::shared_ptr<Fs> fs;  // outlives every descriptor below
  std::string directory;   // as the caller passed it, for messages
  UniqueFd dir;
  Uuid uuid{};
  uint64_t committed_length = 0;
  uint64_t batch_count = 0;
  uint64_t next_record_seq = 1;
  uint64_t next_batch_seq = 1;
  UniqueFd lock;  // declared before the log: the log closes first, then the lock is released
  UniqueFd log;
  // The manifest this writer published last, held so that the next commit's rename does not have to
  // free it: it is closed after that commit, on the file system's own time.
  UniqueFd manifest;
  bool fail_closed = false;
  pid_t owner = 0;  // a forked child shares the descriptors but must not write through them
  std::vector<uint8_t> batch_buffer;
};

Store::Store(std::unique_ptr<State> state) : state_(std::move(state)) {}
Store::~Store() = default;

Result<std::pair<std::unique_ptr<Store>, ReplayedLog>> Store::open(const std::string& path, ReplaySink* sink) {
  return open(path, posix_writer_fs(), sink);
}

Result<std::pair<std::unique_ptr<Store>, ReplayedLog>> Store::open(const std::string& path,
                                                                   std::shared_ptr<Fs> fs_handle,
                                                                   ReplaySink* sink) {
  Fs& fs = *fs_handle;
  if (path.find('\0') != std::string::npos) {
    return fail(EngineError::persistence("file name contained an unexpected NUL byte"));
  }
  auto created = create_dir_all(fs, path);
  if (!created) return fail(std::move(created.error()));
  auto dir_fd = fs.open_at(kCurrentDir, path.empty() ? std::string(".") : path, OpenMode::Directory);
  if (!dir_fd) return fail(os_error(dir_fd.error()));

  auto state = std::make_unique<State>();
  state->fs = fs_handle;
  state->directory = path;
  state->dir = UniqueFd(&fs, *dir_fd);
  const Fd dir = state->dir.get();

  auto lock = fs.lock_file(dir, std::string(kLockName));
  if (!lock) {
    if (!lock.error().while_locking) return fail(os_error(lock.error().error));
    const int e = lock.error().error;
    const std::string why = (e == EWOULDBLOCK || e == EAGAIN) ? std::string("WouldBlock") : os_error_text(e);
    return fail(EngineError::persistence(str_cat("store '", path, "' is already owned: ", why)));
  }
  state->lock = UniqueFd(&fs, *lock);

  const bool existing = fs.exists_at(dir, std::string(kManifestName)).value_or(false);
  if (existing) {
    auto manifest = read_manifest(fs, dir);
    if (!manifest) return fail(std::move(manifest.error()));
    state->uuid = manifest->uuid;
    state->committed_length = manifest->committed_length;
  } else {
    auto uuid = create_store(fs, dir, *created);
    if (!uuid) return fail(std::move(uuid.error()));
    state->uuid = *uuid;
    state->committed_length = kLogHeaderSize;
  }

  auto log_fd = fs.open_at(dir, std::string(kLogSegmentName), OpenMode::ReadWrite);
  if (!log_fd) return fail(os_error(log_fd.error()));
  state->log = UniqueFd(&fs, *log_fd);
  const Fd log = state->log.get();
  if (auto r = verify_log_header(fs, log, state->uuid); !r) return fail(std::move(r.error()));
  auto size = fs.file_size(log);
  if (!size) return fail(os_error(size.error()));
  const uint64_t committed = state->committed_length;
  if (committed < kLogHeaderSize || committed > *size) {
    return fail(EngineError::data_corruption(
        str_cat("manifest committed length ", committed, " is invalid for log length ", *size)));
  }
  // The uncommitted tail is cut only once the committed prefix has replayed: a refused open leaves
  // every file as it found it.
  auto replayed = replay(fs, log, committed, {}, sink);
  if (!replayed) return fail(std::move(replayed.error()));
  if (*size > committed) {
    if (auto r = fs.truncate(log, committed); !r) return fail(os_error(r.error()));
    if (auto r = sync_or_fail(fs, log); !r) return fail(std::move(r.error()));
  }
  state->batch_count = replayed->batch_count;
  state->next_record_seq = replayed->next_record_seq;
  state->next_batch_seq = replayed->next_batch_seq;
  state->owner = ::getpid();
  return std::pair{std::unique_ptr<Store>(new Store(std::move(state))), std::move(*replayed)};
}

namespace {

// Ends the batch framed in `buffer` (records `first` to `first + count - 1`) with its commit frame
// and makes it durable: data, flush, manifest replacement, directory flush.
Result<void> commit_batch(Store::State& s, ByteWriter& buffer, uint64_t first, uint64_t count) {
  const uint64_t commit_sequence = first + count;
  const CommitPayload commit{s.next_batch_seq, count ? first : 0, count ? commit_sequence - 1 : 0, count};
  if (auto e = encode_log_frame(encode_commit_payload(commit), commit_sequence, 0,
                                static_cast<uint8_t>(RecordType::Commit), 1, buffer);
      !e) {
    return fail(std::move(e.error()));
  }

  if (buffer.size() > kMaxU64 - s.committed_length) return fail(EngineError::internal("log length exhausted"));
  const uint64_t new_length = s.committed_length + buffer.size();
  // The batch is written, then flushed while the next manifest is staged beside it: open never reads
  // "manifest.next", so it may become durable before the log. Only once both flushes succeeded does
  // the rename publish the new length, and the batch counts once the directory flush returned.
  Fs& fs = *s.fs;
  auto failed = [&s](EngineError error) -> Result<void> {
    s.fail_closed = true;
    return fail(std::move(error));
  };
  if (auto r = write_all(fs, s.log.get(), s.committed_length, buffer.bytes()); !r) return failed(std::move(r.error()));
  auto log_sync = fs.start_sync(s.log.get());
  if (!log_sync) return failed(os_error(log_sync.error()));
  auto staged = stage_manifest(fs, s.dir.get(), s.uuid, new_length);
  const SysResult<void> log_synced = (*log_sync)->wait();
  if (!log_synced) return failed(os_error(log_synced.error()));
  if (!staged) return failed(std::move(staged.error()));
  auto published = publish_manifest(fs, s.dir.get(), std::move(*staged));
  if (!published) return failed(std::move(published.error()));
  s.committed_length = new_length;
  // The replaced manifest has no name left: freeing it is no part of the commit.
  if (s.manifest.valid()) fs.close_later(s.manifest.release());
  s.manifest = std::move(*published);
  if (buffer.bytes().capacity() <= kKeptBufferCapacity) s.batch_buffer = buffer.take();

  if (commit_sequence == kMaxU64) return fail(EngineError::internal("record sequence exhausted"));
  s.next_record_seq = commit_sequence + 1;
  if (s.next_batch_seq == kMaxU64) return fail(EngineError::internal("batch sequence exhausted"));
  ++s.next_batch_seq;
  if (s.batch_count == kMaxU64) return fail(EngineError::internal("batch count exhausted"));
  ++s.batch_count;
  return {};
}

}  // namespace

Result<std::vector<SequencedRecord>> Store::append_batch(std::vector<PendingRecord> records) {
  State& s = *state_;
  if (auto writable = check_writable(s.owner, s.fail_closed); !writable) return fail(std::move(writable.error()));
  for (const PendingRecord& r : records) {
    if (r.type < 1 || r.type > 3) return fail(EngineError::internal(str_cat("unsupported pending record type ", r.type)));
    if (r.version != 1 || r.flags != 0) {
      return fail(EngineError::internal(str_cat("unsupported record version/flags ", r.version, "/", r.flags)));
    }
  }

  ByteWriter buffer(std::move(s.batch_buffer));
  std::vector<SequencedRecord> out;
  out.reserve(records.size());
  const uint64_t first = s.next_record_seq;
  for (size_t i = 0; i < records.size(); ++i) {
    PendingRecord& r = records[i];
    const uint64_t sequence = first + i;
    if (auto e = encode_log_frame(r.payload, sequence, r.flags, r.type, r.version, buffer); !e) {
      return fail(std::move(e.error()));
    }
    if (sequence == kMaxU64) return fail(EngineError::internal("record sequence exhausted"));
    out.push_back(SequencedRecord{std::move(r.payload), sequence, r.flags, r.type, r.version});
  }
  if (auto r = commit_batch(s, buffer, first, records.size()); !r) return fail(std::move(r.error()));
  return out;
}

Result<void> Store::append_batch(RecordType type, Bytes payloads, std::span<const uint64_t> ends) {
  State& s = *state_;
  if (auto writable = check_writable(s.owner, s.fail_closed); !writable) return fail(std::move(writable.error()));
  const auto type_byte = static_cast<uint8_t>(type);
  if (type_byte < 1 || type_byte > 3) return fail(EngineError::internal(str_cat("unsupported pending record type ", type_byte)));

  // Room for every frame (prefix, length, checksum) and the commit frame, so the buffer never moves.
  std::vector<uint8_t> room = std::move(s.batch_buffer);
  room.reserve(payloads.size() + ends.size() * (kFramePrefixSize + 14) + 128);
  ByteWriter buffer(std::move(room));
  const uint64_t first = s.next_record_seq;
  uint64_t start = 0;
  for (size_t i = 0; i < ends.size(); ++i) {
    const uint64_t sequence = first + i;
    if (auto e = encode_log_frame(payloads.subspan(start, ends[i] - start), sequence, 0, type_byte, 1, buffer); !e) {
      return fail(std::move(e.error()));
    }
    if (sequence == kMaxU64) return fail(EngineError::internal("record sequence exhausted"));
    start = ends[i];
  }
  return commit_batch(s, buffer, first, ends.size());
}

void Store::set_fail_closed() { state_->fail_closed = true; }
bool Store::fail_closed() const { return state_->fail_closed; }
const std::string& Store::directory() const { return state_->directory; }
uint64_t Store::committed_length() const { return state_->committed_length; }
uint64_t Store::batch_count() const { return state_->batch_count; }
uint64_t Store::next_record_seq() const { return state_->next_record_seq; }
uint64_t Store::next_batch_seq() const { return state_->next_batch_seq; }

}  // namespace brackwater::storage
