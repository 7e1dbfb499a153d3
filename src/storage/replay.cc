#include "storage/replay.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>

#include <roaring/roaring64map.hh>

#include "storage/crc32c.h"
#include "storage/log_frame.h"
#include "storage/record_codec.h"
#include "storage/text.h"

namespace brackwater::storage {

namespace {

constexpr uint64_t kMaxU64 = std::numeric_limits<uint64_t>::max();

struct BuiltinRole {
  std::string_view name;
  Identity identity;
};
constexpr BuiltinRole kBuiltinRoles[] = {
    {"posit", 1}, {"ascertains", 2}, {"thing", 3}, {"class", 4}, {"subclass", 5}};

EngineError corrupt(std::string message) { return EngineError::data_corruption(std::move(message)); }

EngineError record_error(uint64_t sequence, std::string_view message) {
  return corrupt(str_cat("record sequence ", sequence, ": ", message));
}

// A keyed 64-bit hash; the key is drawn per replay so that crafted logs cannot aim at collisions.
class KeyedHasher {
 public:
  explicit KeyedHasher(uint64_t key) : h_(key) {}
  void write_u64(uint64_t v) {
    h_ = (h_ ^ v) * 0x9E3779B97F4A7C15ULL;
    h_ ^= h_ >> 29;
  }
  void write_bytes(std::string_view s) {
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) write_u64(load_u64(reinterpret_cast<const uint8_t*>(s.data() + i)));
    uint64_t tail = s.size();
    for (size_t k = 0; i + k < s.size(); ++k) tail = (tail << 8) | static_cast<uint8_t>(s[i + k]);
    write_u64(tail);
  }
  uint64_t finish() const {
    uint64_t x = h_;
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return x;
  }

 private:
  uint64_t h_;
};

uint64_t random_key() {
  int local = 0;
  uint64_t t = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  KeyedHasher h(t);
  h.write_u64(reinterpret_cast<uintptr_t>(&local));
  return h.finish();
}

// Threads that share the tasks of `run` with its caller during one replay; joined at destruction.
// Without threads (none asked for, or none could be started) the caller runs every task.
class WorkerPool {
 public:
  explicit WorkerPool(unsigned helpers) {
    for (unsigned i = 0; i < helpers; ++i) {
      pthread_t thread;
      if (::pthread_create(&thread, nullptr, &WorkerPool::serve, this) != 0) break;
      threads_.push_back(thread);
    }
  }
  ~WorkerPool() {
    {
      std::lock_guard guard(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (pthread_t thread : threads_) ::pthread_join(thread, nullptr);
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  size_t threads() const { return threads_.size() + 1; }

  // Calls task(i) once for every i < count; returns when all of them have returned.
  void run(size_t count, const std::function<void(size_t)>& task) {
    if (threads_.empty() || count < 2) {
      for (size_t i = 0; i < count; ++i) task(i);
      return;
    }
    {
      std::lock_guard guard(mutex_);
      task_ = &task;
      count_ = count;
      next_.store(0);
      busy_ = threads_.size();
      ++generation_;
    }
    wake_.notify_all();
    work();
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
    task_ = nullptr;
  }

 private:
  static void* serve(void* self) {
    auto& pool = *static_cast<WorkerPool*>(self);
    std::unique_lock lock(pool.mutex_);
    uint64_t seen = 0;
    while (true) {
      pool.wake_.wait(lock, [&] { return pool.stop_ || pool.generation_ != seen; });
      if (pool.stop_) return nullptr;
      seen = pool.generation_;
      lock.unlock();
      pool.work();
      lock.lock();
      if (--pool.busy_ == 0) pool.done_.notify_one();
    }
  }

  void work() {
    for (size_t i; (i = next_.fetch_add(1)) < count_;) (*task_)(i);
  }

  std::vector<pthread_t> threads_;
  std::mutex mutex_;
  std::condition_variable wake_, done_;
  const std::function<void(size_t)>* task_ = nullptr;
  size_t count_ = 0;
  std::atomic<size_t> next_{0};
  size_t busy_ = 0;
  uint64_t generation_ = 0;
  bool stop_ = false;
};

// Runs task(i) for i < count on `pool`, or here without one.
void run_tasks(WorkerPool* pool, size_t count, const std::function<void(size_t)>& task) {
  if (pool != nullptr) return pool->run(count, task);
  for (size_t i = 0; i < count; ++i) task(i);
}

// The applied propositions (members, value text, time) by keyed hash. Duplicates are found in one
// pass after the records were applied: sorting the hashes keeps the work sequential, where a hash
// table probe per Posit would miss the cache at every insert. The earliest repeating Posit is
// reported; it precedes any failure the replay met later, so checking at the end gives the same
// first error. A hash may be set ahead of its Posit being applied; only applied Posits count.
class PropositionLog {
 public:
  PropositionLog(const ReplayedLog& log, uint64_t key) : log_(log), key_(key) {}

  void reserve(size_t n) {
    hashes_.reserve(n);
    sequences_.reserve(n);
  }
  // Room for the hashes of the Posits below `n`.
  void resize(size_t n) {
    if (hashes_.size() < n) hashes_.resize(n);
  }

  uint64_t hash(std::span<const ReplayedMember> members, const ReplayedPosit& p) const {
    KeyedHasher h(key_);
    h.write_u64(p.member_count);
    for (auto [role, thing] : members) {
      h.write_u64(role);
      h.write_u64(thing);
    }
    h.write_bytes(p.value.text);
    p.time.hash_into(h);
    return h.finish();
  }
  void set_hash(size_t index, uint64_t hash) { hashes_[index] = hash; }

  // The next Posit, `index`, was applied from record `sequence`.
  void applied(size_t index, uint64_t sequence) {
    if (hashes_.size() <= index) {
      resize(index + 1);
      set_hash(index, hash(log_.members_of(log_.posits[index]), log_.posits[index]));
    }
    sequences_.push_back(sequence);
  }

  // The record sequence of the first Posit whose proposition an earlier Posit already holds.
  std::optional<uint64_t> first_duplicate(WorkerPool* pool) const {
    const size_t n = sequences_.size();
    // Partition by the top hash bits into cache-sized buckets, then sort each bucket.
    unsigned bits = 0;
    while (bits < 20 && (n >> bits) > 512) ++bits;
    std::vector<Entry> sorted(n);
    std::vector<size_t> starts((size_t(1) << bits) + 1, 0);
    auto bucket = [bits](uint64_t h) { return bits == 0 ? 0 : static_cast<size_t>(h >> (64 - bits)); };
    for (size_t i = 0; i < n; ++i) ++starts[bucket(hashes_[i]) + 1];
    for (size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
    std::vector<size_t> next(starts.begin(), starts.end() - 1);
    for (size_t i = 0; i < n; ++i) sorted[next[bucket(hashes_[i])]++] = Entry{hashes_[i], i};

    // Groups of buckets, each group's earliest repeat; the earliest of all is the answer.
    const size_t buckets = starts.size() - 1;
    const size_t groups = std::min<size_t>(buckets, 64);
    std::vector<size_t> first(groups, kNone);
    run_tasks(pool, groups, [&](size_t g) {
      for (size_t b = buckets * g / groups; b < buckets * (g + 1) / groups; ++b) {
        first[g] = std::min(first[g], earliest_repeat(sorted.begin() + starts[b], sorted.begin() + starts[b + 1]));
      }
    });
    const size_t earliest = *std::min_element(first.begin(), first.end());
    if (earliest == kNone) return std::nullopt;
    return sequences_[earliest];
  }

 private:
  struct Entry {
    uint64_t hash;
    size_t index;
  };
  static constexpr size_t kNone = std::numeric_limits<size_t>::max();

  // The smallest index in [begin, end) whose proposition an entry of smaller index also holds.
  size_t earliest_repeat(std::vector<Entry>::iterator begin, std::vector<Entry>::iterator end) const {
    std::sort(begin, end, [](const Entry& x, const Entry& y) { return x.hash != y.hash ? x.hash < y.hash : x.index < y.index; });
    size_t first = kNone;
    for (auto run = begin; run != end;) {
      auto run_end = run + 1;
      while (run_end != end && run_end->hash == run->hash) ++run_end;
      for (auto j = run + 1; j != run_end && j->index < first; ++j) {
        for (auto i = run; i != j; ++i) {
          if (same(log_.posits[i->index], log_.posits[j->index])) {
            first = j->index;
            break;
          }
        }
      }
      run = run_end;
    }
    return first;
  }

  bool same(const ReplayedPosit& a, const ReplayedPosit& b) const {
    return std::ranges::equal(log_.members_of(a), log_.members_of(b)) && a.value.text == b.value.text &&
           a.time.identical(b.time);
  }

  const ReplayedLog& log_;
  uint64_t key_;
  std::vector<uint64_t> hashes_;     // by Posit index
  std::vector<uint64_t> sequences_;  // record sequence by applied Posit index
};

// The frames of the committed log in order, each checked as far as its own bytes go.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual bool at_end() const = 0;
  // The offset after the last frame handed out.
  virtual uint64_t offset() const = 0;
  // The next frame; the payloads it does not decode ahead are appended to `arena`.
  virtual Result<FrameInfo> next(std::vector<uint8_t>& arena) = 0;
};

class SequentialFrames final : public FrameSource {
 public:
  SequentialFrames(Fs& fs, Fd log, uint64_t committed) : reader_(fs, log, committed) {}
  bool at_end() const override { return reader_.at_end(); }
  uint64_t offset() const override { return reader_.offset(); }
  Result<FrameInfo> next(std::vector<uint8_t>& arena) override { return reader_.next(arena); }

 private:
  FrameReader reader_;
};

// A Posit that failed to decode ahead of its turn: the failure and, when it got that far, its codec.
struct AheadFailure {
  EngineError error;
  std::optional<uint16_t> codec;
};

// The committed log read a window at a time. The frames of a window are delimited in order (their
// headers checked up to the first failure, which waits for its turn), then their checksums are
// verified and their Posits decoded into the log's Posit slots on the pool. A Posit frame's payload
// is not handed out: its slot holds the decoded Posit, or the failure that its turn reports.
class WindowFrames final : public FrameSource {
 public:
  WindowFrames(Fs& fs, Fd log, uint64_t committed, const ReplayTuning& tuning, WorkerPool& pool, ReplayedLog& out,
               PropositionLog& propositions)
      : fs_(fs), log_(log), committed_(committed), window_(std::max<size_t>(tuning.window, 64)), pool_(pool),
        out_(out), propositions_(propositions), file_next_(kLogHeaderSize), offset_(kLogHeaderSize) {}

  bool at_end() const override { return next_ == frames_.size() && !stop_ && file_next_ >= committed_; }
  uint64_t offset() const override { return offset_; }
  // Whether a read of the log failed; the pass then has no result.
  bool read_failed() const { return read_failed_; }

  Result<FrameInfo> next(std::vector<uint8_t>& arena) override {
    if (next_ == frames_.size()) {
      if (stop_) return fail(std::move(*stop_));
      if (!load()) return fail(EngineError::persistence("log read failed"));
      if (frames_.empty()) return fail(std::move(*stop_));
    }
    const size_t i = next_++;
    FrameInfo f = frames_[i];
    if (!checksum_ok_[i]) return fail(frame_error(f.offset, f.sequence, "record checksum mismatch"));
    offset_ = f.offset + f.total_size;
    if (f.type != static_cast<uint8_t>(RecordType::Posit)) {
      const size_t at = arena.size();
      arena.insert(arena.end(), buffer_.begin() + f.payload_offset, buffer_.begin() + f.payload_offset + f.payload_size);
      f.payload_offset = at;
    }
    return f;
  }

  // The decoded Posit of slot `k` failed: how.
  const AheadFailure* failure(size_t k) const {
    if (!failed_any_) return nullptr;
    auto it = failures_.find(k);
    return it == failures_.end() ? nullptr : &it->second;
  }
  uint16_t codec(size_t k) const { return codecs_[k]; }

 private:
  // Reads the next window and delimits its frames; false when a read failed.
  bool load() {
    const uint64_t start = file_next_;
    frames_.clear();
    next_ = 0;
    for (size_t want = std::max(window_, need_);; want = std::max(want * 2, need_)) {
      const size_t length = static_cast<size_t>(std::min<uint64_t>(committed_ - start, want));
      buffer_.resize(length);
      if (auto r = read_exact(fs_, log_, start, buffer_); !r) {
        read_failed_ = true;
        return false;
      }
      if (delimit(start, start + length == committed_) > 0 || stop_) break;
    }
    prepare();
    return true;
  }

  // Delimits the frames of the buffer read from `start`; returns how many it took.
  size_t delimit(uint64_t start, bool last) {
    const size_t length = buffer_.size();
    size_t p = 0;
    while (start + p < committed_) {
      bool short_data = false;
      auto header = check_frame_header(
          start + p, committed_, [&](size_t) -> FrameBytes { return Bytes(buffer_.data() + p, length - p); },
          short_data);
      if (!header) {
        if (!(short_data && !last)) stop_ = std::move(header.error());
        break;
      }
      FrameInfo f = *header;
      if (f.total_size > length - p) {
        need_ = static_cast<size_t>(f.total_size);
        break;
      }
      f.payload_offset = p + static_cast<size_t>(f.total_size - f.payload_size - 4);
      frames_.push_back(f);
      p += static_cast<size_t>(f.total_size);
    }
    file_next_ = start + p;
    return frames_.size();
  }

  // Verifies the window's checksums and decodes its Posits into their slots, on the pool.
  void prepare() {
    const size_t count = frames_.size();
    checksum_ok_.assign(count, 0);
    const size_t tasks = std::min(count, pool_.threads() * 4);
    if (tasks == 0) return;
    first_slot_.assign(tasks + 1, slots_);
    for (size_t t = 0; t < tasks; ++t) {
      size_t posits = 0;
      for (size_t i = count * t / tasks; i < count * (t + 1) / tasks; ++i) {
        posits += frames_[i].type == static_cast<uint8_t>(RecordType::Posit);
      }
      first_slot_[t + 1] = first_slot_[t] + posits;
    }
    const size_t slots = first_slot_[tasks];
    if (slots > out_.posits.capacity()) reserve(slots);
    out_.posits.resize(slots);
    codecs_.resize(slots);
    propositions_.resize(slots);
    members_.resize(std::max(members_.size(), tasks));
    failed_.resize(std::max(failed_.size(), tasks));

    // Each Posit's members go straight to their place in the log's pool, after those of the Posits
    // before it; a Posit that fails to decode takes none, and no Posit after it is ever applied.
    member_at_.clear();
    size_t members = out_.members.size();
    for (const FrameInfo& f : frames_) {
      if (f.type != static_cast<uint8_t>(RecordType::Posit)) continue;
      member_at_.push_back(members);
      members += member_count(Bytes(buffer_.data() + f.payload_offset, f.payload_size));
    }
    if (members > out_.members.capacity()) out_.members.reserve(members + members / 8);
    out_.members.resize(members);

    pool_.run(tasks, [&](size_t t) {
      std::vector<ReplayedMember>& decoded = members_[t];
      size_t slot = first_slot_[t];
      for (size_t i = count * t / tasks; i < count * (t + 1) / tasks; ++i) {
        const FrameInfo& f = frames_[i];
        const size_t header = static_cast<size_t>(f.total_size - f.payload_size - 4);
        const uint8_t* frame = buffer_.data() + f.payload_offset - header;
        const size_t checked = header + f.payload_size;
        checksum_ok_[i] = crc32c(Bytes(frame, checked)) == load_u32(frame + checked);
        if (f.type != static_cast<uint8_t>(RecordType::Posit)) continue;
        const size_t k = slot++;
        // A frame that fails its checksum is refused before its Posit is looked at.
        if (!checksum_ok_[i]) continue;
        std::optional<uint16_t> codec;
        decoded.clear();
        auto posit = decode_posit_ahead(Bytes(buffer_.data() + f.payload_offset, f.payload_size), decoded, codec);
        if (!posit) {
          failed_[t].emplace_back(k, AheadFailure{std::move(posit.error()), codec});
          continue;
        }
        const size_t at = member_at_[k - slots_];
        const size_t end = k + 1 - slots_ < member_at_.size() ? member_at_[k + 1 - slots_] : out_.members.size();
        if (decoded.size() != end - at) {
          failed_[t].emplace_back(k, AheadFailure{EngineError::internal("Posit member count changed"), codec});
          continue;
        }
        std::copy(decoded.begin(), decoded.end(), out_.members.begin() + at);
        posit->first_member = at;
        codecs_[k] = *codec;
        propositions_.set_hash(k, propositions_.hash(decoded, *posit));
        out_.posits[k] = std::move(*posit);
      }
    });
    for (size_t t = 0; t < tasks; ++t) {
      for (auto& [k, failure] : failed_[t]) failures_.emplace(k, std::move(failure));
      failed_any_ = failed_any_ || !failed_[t].empty();
      failed_[t].clear();
    }
    slots_ = slots;
  }

  // The member count a Posit payload declares, as its decoding reads it; 0 when that read fails.
  static size_t member_count(Bytes payload) {
    Cursor c(payload);
    c.pos = std::min<size_t>(8, payload.size());
    auto count = read_uleb128(c);
    return count && *count <= c.remaining() / 16 ? static_cast<size_t>(*count) : 0;
  }

  // Room for the Posits the whole log likely holds at the density of what was delimited so far.
  void reserve(size_t slots) {
    const uint64_t read = file_next_ - kLogHeaderSize;
    double projected = double(slots);
    if (read > 0) projected = double(slots) * double(committed_ - kLogHeaderSize) / double(read) * 1.02 + 16;
    const auto target = std::max(slots, static_cast<size_t>(projected));
    out_.posits.reserve(target);
    codecs_.reserve(target);
    propositions_.reserve(target);
  }

  Fs& fs_;
  Fd log_;
  uint64_t committed_;
  size_t window_;
  size_t need_ = 0;  // bytes of the largest frame that did not fit a window
  WorkerPool& pool_;
  ReplayedLog& out_;
  PropositionLog& propositions_;

  std::vector<uint8_t> buffer_;        // the window's bytes
  uint64_t file_next_;                 // log offset after the window's last whole frame
  uint64_t offset_;                    // log offset after the last frame handed out
  std::vector<FrameInfo> frames_;      // payload offsets within `buffer_`
  std::vector<uint8_t> checksum_ok_;   // by frame
  size_t next_ = 0;                    // the next frame to hand out
  std::optional<EngineError> stop_;    // the header failure after the window's frames
  bool read_failed_ = false;

  size_t slots_ = 0;                   // Posit frames delimited so far
  std::vector<size_t> first_slot_;     // by task, then the window's end
  std::vector<uint16_t> codecs_;       // by slot
  std::vector<size_t> member_at_;      // by slot of the window: first member in the log's pool
  std::vector<std::vector<ReplayedMember>> members_;                  // by task
  std::vector<std::vector<std::pair<size_t, AheadFailure>>> failed_;  // by task
  std::unordered_map<size_t, AheadFailure> failures_;                 // by slot
  bool failed_any_ = false;
};

class Replayer {
 public:
  explicit Replayer(WorkerPool* pool) : pool_(pool), propositions_(out_, random_key()) {}

  ReplayedLog& log() { return out_; }
  PropositionLog& propositions() { return propositions_; }

  // Replays the log; a repeated proposition among the applied Posits is the first failure.
  Result<ReplayedLog> run(FrameSource& source, uint64_t committed, WindowFrames* ahead) {
    committed_ = committed;
    ahead_ = ahead;
    auto result = scan(source);
    if (auto duplicate = propositions_.first_duplicate(pool_)) {
      return fail(record_error(*duplicate, "duplicate Posit proposition"));
    }
    if (!result) return fail(std::move(result.error()));
    return std::move(out_);
  }

 private:
  Result<void> scan(FrameSource& source) {
    uint64_t expected = 1;
    while (!source.at_end()) {
      auto frame = source.next(arena_);
      if (!frame) return fail(std::move(frame.error()));
      const FrameInfo& f = *frame;
      if (f.sequence != expected) {
        return fail(frame_error(f.offset, f.sequence,
                                str_cat("record sequence gap: expected ", expected, ", found ", f.sequence)));
      }
      if (f.sequence == kMaxU64) return fail(EngineError::internal("record sequence exhausted"));
      expected = f.sequence + 1;
      switch (f.type) {
        case static_cast<uint8_t>(RecordType::Role):
        case static_cast<uint8_t>(RecordType::Codec):
        case static_cast<uint8_t>(RecordType::Posit):
          pending_.push_back(f);
          break;
        case static_cast<uint8_t>(RecordType::Commit):
          if (auto r = commit(f); !r) return fail(std::move(r.error()));
          break;
        default:
          return fail(frame_error(f.offset, f.sequence, str_cat("unknown mandatory record type ", f.type)));
      }
    }
    if (!pending_.empty()) {
      return fail(frame_error(source.offset(), pending_.front().sequence,
                              "manifest committed length ends outside a Commit frame"));
    }
    if (applied_any_) {
      for (const BuiltinRole& b : kBuiltinRoles) {
        auto it = role_by_name_.find(std::string(b.name));
        const ReplayedRole* role = it == role_by_name_.end() ? nullptr : &out_.roles[it->second];
        if (role == nullptr || role->identity != b.identity || !role->reserved) {
          return fail(corrupt(str_cat("built-in Role '", b.name, "' must be reserved identity ", b.identity)));
        }
      }
      if (declared_ != kAllCodecs) return fail(corrupt("store lacks one or more mandatory v1 codecs"));
    }
    out_.posits.resize(applied_posits_);  // every Posit slot filled ahead was applied
    out_.codec_registry_complete = declared_ == kAllCodecs;
    out_.next_record_seq = expected;
    return {};
  }

  Bytes payload(const FrameInfo& f) const { return Bytes(arena_.data() + f.payload_offset, f.payload_size); }

  Result<void> commit(const FrameInfo& f) {
    auto decoded = decode_commit(payload(f));
    if (!decoded) return fail(std::move(decoded.error()));
    if (decoded->trailing) return fail(frame_error(f.offset, f.sequence, "commit has trailing fields"));
    const CommitPayload& c = decoded->commit;
    const uint64_t first = pending_.empty() ? 0 : pending_.front().sequence;
    const uint64_t last = pending_.empty() ? 0 : pending_.back().sequence;
    if (c.count != pending_.size() || c.batch != out_.next_batch_seq || c.first_sequence != first ||
        c.last_sequence != last) {
      return fail(frame_error(f.offset, f.sequence,
                              str_cat("invalid Commit: batch/range/count (", c.batch, ", ", c.first_sequence, ", ",
                                      c.last_sequence, ", ", c.count, ")")));
    }
    for (const FrameInfo& record : pending_) {
      Result<void> r = record.type == static_cast<uint8_t>(RecordType::Role)    ? apply_role(record)
                       : record.type == static_cast<uint8_t>(RecordType::Codec) ? apply_codec(record)
                       : ahead_ != nullptr                                       ? apply_decoded_posit(record)
                                                                                 : apply_posit(record);
      if (!r) return r;
    }
    pending_.clear();
    arena_.clear();
    if (out_.batch_count == kMaxU64) return fail(EngineError::internal("batch count exhausted"));
    ++out_.batch_count;
    if (out_.next_batch_seq == kMaxU64) return fail(EngineError::internal("batch sequence exhausted"));
    ++out_.next_batch_seq;
    return {};
  }

  Result<void> apply_role(const FrameInfo& f) {
    auto role = decode_role(payload(f));
    if (!role) return fail(std::move(role.error()));
    if (!identity_unused(role->identity) || role_by_name_.contains(role->name)) {
      return fail(record_error(f.sequence, "duplicate or conflicting Role record"));
    }
    mark_used(role->identity);
    role_ids_.add(role->identity);
    role_by_name_.emplace(role->name, out_.roles.size());
    out_.roles.push_back(std::move(*role));
    applied_any_ = true;
    return {};
  }

  Result<void> apply_codec(const FrameInfo& f) {
    auto id = decode_codec(payload(f));
    if (!id) return fail(std::move(id.error()));
    if (declared_ & (1u << *id)) return fail(record_error(f.sequence, "duplicate Codec record"));
    declared_ |= static_cast<CodecSet>(1u << *id);
    applied_any_ = true;
    return {};
  }

  Result<void> apply_posit(const FrameInfo& f) {
    auto posit = decode_posit(payload(f), declared_, out_.members);
    if (!posit) return fail(record_error(f.sequence, posit.error().display()));
    if (auto r = check_posit(*posit, f.sequence); !r) return r;
    if (out_.posits.size() == out_.posits.capacity()) grow(f.offset);
    out_.posits.push_back(std::move(*posit));
    accept_posit(f.sequence);
    return {};
  }

  // The Posit decoded ahead into the next slot, with the codec check the decode left to its turn.
  Result<void> apply_decoded_posit(const FrameInfo& f) {
    const size_t k = applied_posits_;
    if (const AheadFailure* failure = ahead_->failure(k)) {
      const bool undeclared = failure->codec && !(declared_ & (1u << *failure->codec));
      return fail(record_error(f.sequence, (undeclared ? undeclared_codec_error() : failure->error).display()));
    }
    if (!(declared_ & (1u << ahead_->codec(k)))) return fail(record_error(f.sequence, undeclared_codec_error().display()));
    if (auto r = check_posit(out_.posits[k], f.sequence); !r) return r;
    accept_posit(f.sequence);
    return {};
  }

  // The checks of a decoded Posit against what was applied before it.
  Result<void> check_posit(const ReplayedPosit& posit, uint64_t sequence) {
    if (!identity_unused(posit.identity)) return fail(record_error(sequence, "duplicate Role or Posit identity"));
    for (auto [role, thing] : out_.members_of(posit)) {
      if (!role_known(role)) return fail(record_error(sequence, "Posit references an unknown Role"));
    }
    return {};
  }

  // Applies the checked Posit in slot `applied_posits_`.
  void accept_posit(uint64_t sequence) {
    const size_t k = applied_posits_++;
    mark_used(out_.posits[k].identity);
    propositions_.applied(k, sequence);
    applied_any_ = true;
  }

  // Roles are never removed: a Role found once is remembered in a small table.
  bool role_known(Identity role) {
    Identity& cached = known_roles_[role % std::size(known_roles_)];
    if (cached == role) return true;
    if (!role_ids_.contains(role)) return false;
    cached = role;
    return true;
  }

  // Identities usually arrive in ascending order: one above every identity seen so far cannot be
  // taken, and is queued for the bitmap instead of probing it. Any other identity flushes the queue
  // first and is then looked up.
  bool identity_unused(Identity id) {
    if (id > max_id_) {
      max_id_ = id;
      return true;
    }
    flush_ids();
    return !used_.contains(id);
  }

  void mark_used(Identity id) {
    fresh_ids_.push_back(id);
    if (fresh_ids_.size() >= 65536) flush_ids();
  }

  void flush_ids() {
    if (fresh_ids_.empty()) return;
    used_.addMany(fresh_ids_.size(), fresh_ids_.data());
    fresh_ids_.clear();
  }

  // Grows the Posit list to the count the rest of the log is likely to hold at the density read so
  // far (bounded by the log size), so that a large log is not moved over and over while it loads.
  void grow(uint64_t offset) {
    const size_t size = out_.posits.size();
    size_t target = size + size / 2 + 16;
    const uint64_t read = offset > 64 ? offset - 64 : 0;
    if (size >= 64 && read > 0 && committed_ > offset) {
      const double projected = double(size) * double(committed_ - 64) / double(read) * 1.02 + 16;
      if (projected > double(target)) target = static_cast<size_t>(projected);
    }
    out_.posits.reserve(target);
    propositions_.reserve(target);
    // The member pool at the mean member count read so far.
    if (size > 0) {
      const double mean = double(out_.members.size()) / double(size);
      const auto members = static_cast<size_t>(mean * double(target)) + 16;
      if (members > out_.members.capacity()) out_.members.reserve(members);
    }
  }

  WorkerPool* pool_;
  WindowFrames* ahead_ = nullptr;  // the source that decoded the Posits ahead, if any
  ReplayedLog out_;
  uint64_t committed_ = 0;
  size_t applied_posits_ = 0;
  Identity max_id_ = 0;              // largest Role or Posit identity applied
  std::vector<Identity> fresh_ids_;  // applied identities not yet in `used_`, ascending
  std::vector<uint8_t> arena_;       // payloads of the open batch
  std::vector<FrameInfo> pending_;   // records of the open batch
  CodecSet declared_ = 0;
  bool applied_any_ = false;
  Roaring64Map used_;      // Role and Posit identities
  Roaring64Map role_ids_;  // Role identities
  Identity known_roles_[64] = {};
  std::unordered_map<std::string, size_t> role_by_name_;
  PropositionLog propositions_;
};

unsigned replay_threads(const ReplayTuning& tuning) {
  if (tuning.threads != 0) return tuning.threads;
  return std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
}

}  // namespace

Result<ReplayedLog> replay(Fs& fs, Fd log, uint64_t committed_length, const ReplayTuning& tuning) {
  if (committed_length >= kLogHeaderSize && committed_length - kLogHeaderSize >= tuning.parallel_from) {
    WorkerPool pool(replay_threads(tuning) - 1);
    Replayer replayer(&pool);
    WindowFrames frames(fs, log, committed_length, tuning, pool, replayer.log(), replayer.propositions());
    auto replayed = replayer.run(frames, committed_length, &frames);
    // A failed read is left to the sequential pass, which reports it at the frame it belongs to.
    if (!frames.read_failed()) return replayed;
  }
  Replayer replayer(nullptr);
  SequentialFrames frames(fs, log, committed_length);
  return replayer.run(frames, committed_length, nullptr);
}

}  // namespace brackwater::storage
