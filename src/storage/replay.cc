#include "storage/replay.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
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

// A fast 64-bit multiply-xorshift hash under a seed drawn per replay, so that crafted logs cannot
// aim at collisions (equal hashes are confirmed by comparing the Posits). Not the SipHash of
// construct/keyed_hash.h: it needs no process keys and is cheaper per word.
class SeededMixHasher {
 public:
  explicit SeededMixHasher(uint64_t key) : h_(key) {}
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
  SeededMixHasher h(t);
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
// Posits whose hashes match are read again from the log to compare them, so that the decoded Posits
// need not be kept (a replay with a sink hands them on); equal hashes are rare outside a damaged log.
class PropositionLog {
 public:
  PropositionLog(Fs& fs, Fd log, uint64_t key) : fs_(fs), log_(log), key_(key) {}

  void set_committed(uint64_t committed) { committed_ = committed; }
  void reserve(size_t n) {
    hashes_.reserve(n);
    checkpoints_.reserve(n / kCheckpointEvery + 1);
  }
  // Room for the hashes of the Posits below `n`.
  void resize(size_t n) {
    if (hashes_.size() < n) hashes_.resize(n);
  }

  uint64_t hash(std::span<const ReplayedMember> members, const ReplayedPosit& p) const {
    SeededMixHasher h(key_);
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

  // The next Posit, `index`, was applied from the frame at `offset`.
  void applied(size_t index, uint64_t offset, std::span<const ReplayedMember> members, const ReplayedPosit& p) {
    if (hashes_.size() <= index) {
      resize(index + 1);
      set_hash(index, hash(members, p));
    }
    if (index % kCheckpointEvery == 0) checkpoints_.push_back(offset);
    applied_ = index + 1;
  }
  // Only the first `n` applied Posits count: the others were applied ahead of a Commit never reached.
  void keep(size_t n) { applied_ = std::min(applied_, n); }

  // The record sequence of the first Posit whose proposition an earlier Posit already holds. Frees
  // the hashes.
  Result<std::optional<uint64_t>> first_duplicate(WorkerPool* pool) {
    const size_t n = applied_;
    // Partition by the top hash bits into cache-sized buckets, then sort each bucket. An entry is
    // the hash past the bucket's bits with the Posit's index in place of its lowest bits: in order,
    // equal hashes come together by index. Matching entries whose full hashes differ only cost a
    // comparison.
    unsigned bits = 0;
    while (bits < 20 && (n >> bits) > 512) ++bits;
    const uint64_t index_mask = n == 0 ? 0 : ~uint64_t(0) >> (64 - std::bit_width((n - 1) | 1));
    BlockVector<uint64_t> sorted(n);
    std::vector<size_t> starts((size_t(1) << bits) + 1, 0);
    auto bucket = [bits](uint64_t h) { return bits == 0 ? 0 : static_cast<size_t>(h >> (64 - bits)); };
    for (size_t i = 0; i < n; ++i) ++starts[bucket(hashes_[i]) + 1];
    for (size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
    std::vector<size_t> next(starts.begin(), starts.end() - 1);
    for (size_t i = 0; i < n; ++i) sorted[next[bucket(hashes_[i])]++] = ((hashes_[i] << bits) & ~index_mask) | i;
    BlockVector<uint64_t>().swap(hashes_);

    // Groups of buckets sorted on the pool, each collecting its runs of equal entries; the runs are
    // then compared here, in order, since comparing reads the log.
    const size_t buckets = starts.size() - 1;
    const size_t groups = std::min<size_t>(buckets, 64);
    std::vector<std::vector<std::pair<size_t, size_t>>> runs(groups);
    run_tasks(pool, groups, [&](size_t g) {
      const size_t begin = starts[buckets * g / groups], end = starts[buckets * (g + 1) / groups];
      for (size_t b = buckets * g / groups; b < buckets * (g + 1) / groups; ++b) {
        std::sort(sorted.begin() + starts[b], sorted.begin() + starts[b + 1]);
      }
      for (size_t run = begin; run != end;) {
        size_t run_end = run + 1;
        while (run_end != end && starts_run(sorted[run], sorted[run_end], index_mask)) ++run_end;
        if (run_end - run > 1) runs[g].emplace_back(run, run_end);
        run = run_end;
      }
    });
    size_t first = kNone;
    for (const auto& group : runs) {
      for (auto [begin, end] : group) {
        auto repeat = earliest_repeat(std::span(sorted).subspan(begin, end - begin), index_mask, first);
        if (!repeat) return fail(std::move(repeat.error()));
        first = *repeat;
      }
    }
    if (first == kNone) return std::optional<uint64_t>();
    auto posit = reread(first);
    if (!posit) return fail(std::move(posit.error()));
    return std::optional<uint64_t>(posit->sequence);
  }

 private:
  static constexpr size_t kNone = std::numeric_limits<size_t>::max();
  static constexpr size_t kCheckpointEvery = 64;  // applied Posits per frame offset kept

  // A Posit read again from its frame.
  struct Reread {
    uint64_t sequence = 0;
    ReplayedPosit posit;
    std::vector<ReplayedMember> members;
  };

  static bool starts_run(uint64_t a, uint64_t b, uint64_t index_mask) { return (a & ~index_mask) == (b & ~index_mask); }

  // The smallest index below `first` of a run of matching entries (in index order) whose
  // proposition an entry of smaller index also holds; `first` when there is none.
  Result<size_t> earliest_repeat(std::span<const uint64_t> run, uint64_t index_mask, size_t first) const {
    for (size_t j = 1; j < run.size() && (run[j] & index_mask) < first; ++j) {
      auto b = reread(run[j] & index_mask);
      if (!b) return fail(std::move(b.error()));
      for (size_t i = 0; i < j; ++i) {
        auto a = reread(run[i] & index_mask);
        if (!a) return fail(std::move(a.error()));
        if (a->members == b->members && a->posit.value.text == b->posit.value.text &&
            a->posit.time.identical(b->posit.time)) {
          return static_cast<size_t>(run[j] & index_mask);
        }
      }
    }
    return first;
  }

  // The frame at `offset`, whose header was checked before.
  Result<FrameInfo> frame_at(uint64_t offset) const {
    std::array<uint8_t, kFramePrefixSize + 10> head{};
    const auto length = static_cast<size_t>(std::min<uint64_t>(head.size(), committed_ - offset));
    if (!read_exact(fs_, log_, offset, std::span(head.data(), length))) {
      return fail(EngineError::persistence("log read failed"));
    }
    bool short_data = false;
    return check_frame_header(
        offset, committed_, [&](size_t) -> FrameBytes { return Bytes(head.data(), length); }, short_data);
  }

  // Applied Posit `index`, found from the nearest kept offset before it; its frame and Posit were
  // read and checked before.
  Result<Reread> reread(size_t index) const {
    uint64_t offset = checkpoints_[index / kCheckpointEvery];
    Result<FrameInfo> frame = frame_at(offset);
    for (size_t skip = index % kCheckpointEvery; frame; frame = frame_at(offset)) {
      if (frame->type == static_cast<uint8_t>(RecordType::Posit) && skip-- == 0) break;
      offset += frame->total_size;
    }
    if (!frame) return fail(std::move(frame.error()));
    std::vector<uint8_t> payload(frame->payload_size);
    if (!read_exact(fs_, log_, offset + frame->total_size - frame->payload_size - 4, payload)) {
      return fail(EngineError::persistence("log read failed"));
    }
    Reread out;
    out.sequence = frame->sequence;
    std::optional<uint16_t> codec;
    auto posit = decode_posit_ahead(payload, out.members, codec);
    if (!posit) return fail(std::move(posit.error()));
    out.posit = std::move(*posit);
    return out;
  }

  Fs& fs_;
  Fd log_;
  uint64_t committed_ = 0;
  uint64_t key_;
  BlockVector<uint64_t> hashes_;       // by Posit index
  BlockVector<uint64_t> checkpoints_;  // the frame offset of every kCheckpointEvery-th applied Posit
  size_t applied_ = 0;                 // applied Posits that count
};

// The decoded Posits a replay holds: slots from Posit `posits` in log order, and their members
// from `members` of the log's member pool. Without a sink both stay 0 and every Posit is held.
struct HeldFrom {
  size_t posits = 0;
  size_t members = 0;
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
  // `before_load` runs ahead of each window but the first; it may move `held` past every slot so far.
  WindowFrames(Fs& fs, Fd log, uint64_t committed, const ReplayTuning& tuning, WorkerPool& pool, ReplayedLog& out,
               const HeldFrom& held, bool keep_all, PropositionLog& propositions, std::function<void()> before_load)
      : fs_(fs), log_(log), committed_(committed), window_(std::max<size_t>(tuning.window, 64)), pool_(pool),
        out_(out), held_(held), keep_all_(keep_all), propositions_(propositions),
        before_load_(std::move(before_load)), file_next_(kLogHeaderSize), offset_(kLogHeaderSize) {}

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
  uint16_t codec(size_t k) const { return codecs_[k - held_.posits]; }

  // Frees the window's buffers once the pass is over.
  void release() {
    BlockVector<uint8_t>().swap(buffer_);
    BlockVector<uint16_t>().swap(codecs_);
    BlockVector<FrameInfo>().swap(frames_);
    BlockVector<uint8_t>().swap(checksum_ok_);
    BlockVector<size_t>().swap(member_at_);
  }

 private:
  static constexpr size_t kFirstWindow = size_t(256) << 10;

  // Reads the next window and delimits its frames; false when a read failed.
  bool load() {
    if (file_next_ > kLogHeaderSize) before_load_();
    if (held_.posits == slots_) codecs_.clear();
    const uint64_t start = file_next_;
    frames_.clear();
    next_ = 0;
    // A short first window, so that what follows the pass (a sink) has work early.
    const size_t first = start == kLogHeaderSize ? std::min(window_, kFirstWindow) : window_;
    for (size_t want = std::max(first, need_);; want = std::max(want * 2, need_)) {
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
    if (slots - held_.posits > out_.posits.capacity()) reserve(slots);
    out_.posits.resize(slots - held_.posits);
    codecs_.resize(slots - held_.posits);
    propositions_.resize(slots);
    members_.resize(std::max(members_.size(), tasks));
    failed_.resize(std::max(failed_.size(), tasks));

    // Each Posit's members go straight to their place in the log's pool, after those of the Posits
    // before it; a Posit that fails to decode takes none, and no Posit after it is ever applied.
    member_at_.clear();
    size_t members = held_.members + out_.members.size();
    for (const FrameInfo& f : frames_) {
      if (f.type != static_cast<uint8_t>(RecordType::Posit)) continue;
      member_at_.push_back(members);
      members += member_count(Bytes(buffer_.data() + f.payload_offset, f.payload_size));
    }
    const size_t held_members = members - held_.members;
    if (held_members > out_.members.capacity()) out_.members.reserve(held_members + held_members / 8);
    out_.members.resize(held_members);

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
        const size_t end =
            k + 1 - slots_ < member_at_.size() ? member_at_[k + 1 - slots_] : held_.members + out_.members.size();
        if (decoded.size() != end - at) {
          failed_[t].emplace_back(k, AheadFailure{EngineError::internal("Posit member count changed"), codec});
          continue;
        }
        std::copy(decoded.begin(), decoded.end(), out_.members.begin() + (at - held_.members));
        posit->first_member = at;
        codecs_[k - held_.posits] = *codec;
        propositions_.set_hash(k, propositions_.hash(decoded, *posit));
        out_.posits[k - held_.posits] = std::move(*posit);
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
    // Without keeping every Posit, the slots of one window (the next ones are about as many).
    const size_t held = keep_all_ ? target - held_.posits : slots - held_.posits;
    out_.posits.reserve(held);
    codecs_.reserve(held);
    propositions_.reserve(target);
  }

  Fs& fs_;
  Fd log_;
  uint64_t committed_;
  size_t window_;
  size_t need_ = 0;  // bytes of the largest frame that did not fit a window
  WorkerPool& pool_;
  ReplayedLog& out_;
  const HeldFrom& held_;
  bool keep_all_;
  PropositionLog& propositions_;
  std::function<void()> before_load_;

  BlockVector<uint8_t> buffer_;        // the window's bytes
  uint64_t file_next_;                 // log offset after the window's last whole frame
  uint64_t offset_;                    // log offset after the last frame handed out
  BlockVector<FrameInfo> frames_;      // payload offsets within `buffer_`
  BlockVector<uint8_t> checksum_ok_;   // by frame
  size_t next_ = 0;                    // the next frame to hand out
  std::optional<EngineError> stop_;    // the header failure after the window's frames
  bool read_failed_ = false;

  size_t slots_ = 0;                   // Posit frames delimited so far
  std::vector<size_t> first_slot_;     // by task, then the window's end
  BlockVector<uint16_t> codecs_;       // by slot from held_.posits
  BlockVector<size_t> member_at_;      // by slot of the window: first member in the log's pool
  std::vector<std::vector<ReplayedMember>> members_;                  // by task
  std::vector<std::vector<std::pair<size_t, AheadFailure>>> failed_;  // by task
  std::unordered_map<size_t, AheadFailure> failures_;                 // by slot
  bool failed_any_ = false;
};

class Replayer {
 public:
  Replayer(Fs& fs, Fd log, WorkerPool* pool, ReplaySink* sink)
      : pool_(pool), sink_(sink), propositions_(fs, log, random_key()) {}

  ReplayedLog& log() { return out_; }
  PropositionLog& propositions() { return propositions_; }
  const HeldFrom& held() const { return held_; }
  // Hands the applied Posits on and frees every held slot (with a sink; the pass is between frames).
  void drop_held() {
    if (sink_ == nullptr) return;
    pass_on();
    held_.posits += out_.posits.size();
    held_.members += out_.members.size();
    out_.posits.clear();
    out_.members.clear();
  }

  // Replays the log; a repeated proposition among the applied Posits is the first failure.
  Result<ReplayedLog> run(FrameSource& source, uint64_t committed, WindowFrames* ahead) {
    committed_ = committed;
    ahead_ = ahead;
    propositions_.set_committed(committed);
    auto result = scan(source);
    if (sink_ != nullptr) {
      if (result) drop_held();
      out_.posits = {};
      out_.members = {};
    }
    if (ahead_ != nullptr) ahead_->release();
    propositions_.keep(counted_posits_);
    auto duplicate = propositions_.first_duplicate(pool_);
    if (!duplicate) return fail(std::move(duplicate.error()));
    if (*duplicate) return fail(record_error(**duplicate, "duplicate Posit proposition"));
    if (!result) return fail(std::move(result.error()));
    return std::move(out_);
  }

 private:
  static constexpr size_t kSinkChunk = 4096;  // Posits handed on at a time

  // Records are applied as they are read; the first that fails stops the applying, and its failure
  // is reported by the Commit of its batch, where the batch would have been applied as a whole.
  Result<void> scan(FrameSource& source) {
    uint64_t expected = 1;
    while (!source.at_end()) {
      arena_.clear();
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
          if (open_count_++ == 0) open_first_ = f.sequence;
          open_last_ = f.sequence;
          if (!deferred_) {
            Result<void> r = f.type == static_cast<uint8_t>(RecordType::Role)    ? apply_role(f)
                             : f.type == static_cast<uint8_t>(RecordType::Codec) ? apply_codec(f)
                             : ahead_ != nullptr                                 ? apply_decoded_posit(f)
                                                                                 : apply_posit(f);
            if (!r) deferred_ = std::move(r.error());
          }
          break;
        case static_cast<uint8_t>(RecordType::Commit):
          if (auto r = commit(f); !r) return fail(std::move(r.error()));
          break;
        default:
          return fail(frame_error(f.offset, f.sequence, str_cat("unknown mandatory record type ", f.type)));
      }
    }
    if (open_count_ != 0) {
      return fail(frame_error(source.offset(), open_first_, "manifest committed length ends outside a Commit frame"));
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
    out_.posits.resize(applied_posits_ - held_.posits);  // every Posit slot filled ahead was applied
    out_.posit_count = applied_posits_;
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
    const uint64_t first = open_count_ == 0 ? 0 : open_first_;
    const uint64_t last = open_count_ == 0 ? 0 : open_last_;
    if (c.count != open_count_ || c.batch != out_.next_batch_seq || c.first_sequence != first ||
        c.last_sequence != last) {
      return fail(frame_error(f.offset, f.sequence,
                              str_cat("invalid Commit: batch/range/count (", c.batch, ", ", c.first_sequence, ", ",
                                      c.last_sequence, ", ", c.count, ")")));
    }
    // The batch is applied: its Posits count, up to a failing record.
    counted_posits_ = applied_posits_;
    if (deferred_) return fail(std::move(*deferred_));
    open_count_ = 0;
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
    if (sink_ != nullptr && sink_ok_) {
      pass_on();
      if (sink_ok_ && !sink_->role(out_.roles.back())) sink_ok_ = false;
    }
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
    const size_t members = out_.members.size();
    decoded_.clear();
    auto posit = decode_posit(payload(f), declared_, decoded_);
    if (!posit) return fail(record_error(f.sequence, posit.error().display()));
    posit->first_member = held_.members + members;
    out_.members.insert(out_.members.end(), decoded_.begin(), decoded_.end());
    if (auto r = check_posit(*posit, f.sequence); !r) {
      out_.members.resize(members);
      return r;
    }
    if (out_.posits.size() == out_.posits.capacity()) grow(f.offset);
    out_.posits.push_back(std::move(*posit));
    accept_posit(f);
    if (out_.posits.size() >= kSinkChunk) drop_held();
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
    if (auto r = check_posit(out_.posits[k - held_.posits], f.sequence); !r) return r;
    accept_posit(f);
    if (applied_posits_ - handed_ >= kSinkChunk) pass_on();
    return {};
  }

  std::span<const ReplayedMember> members_of(const ReplayedPosit& p) const {
    return std::span<const ReplayedMember>(out_.members).subspan(p.first_member - held_.members, p.member_count);
  }

  // The checks of a decoded Posit against what was applied before it.
  Result<void> check_posit(const ReplayedPosit& posit, uint64_t sequence) {
    if (!identity_unused(posit.identity)) return fail(record_error(sequence, "duplicate Role or Posit identity"));
    for (auto [role, thing] : members_of(posit)) {
      if (!role_known(role)) return fail(record_error(sequence, "Posit references an unknown Role"));
    }
    return {};
  }

  // Applies the checked Posit in slot `applied_posits_`, read from frame `f`.
  void accept_posit(const FrameInfo& f) {
    const size_t k = applied_posits_++;
    const ReplayedPosit& posit = out_.posits[k - held_.posits];
    mark_used(posit.identity);
    propositions_.applied(k, f.offset, members_of(posit), posit);
    applied_any_ = true;
  }

  // Hands the applied Posits not yet handed on to the sink.
  void pass_on() {
    if (sink_ == nullptr || applied_posits_ == handed_) return;
    if (sink_ok_) {
      const size_t from = handed_ - held_.posits;
      ReplayedPosits posits{std::span<ReplayedPosit>(out_.posits).subspan(from, applied_posits_ - handed_),
                            out_.members, held_.members};
      if (!sink_->posits(posits)) sink_ok_ = false;
    }
    handed_ = applied_posits_;
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
  // With a sink, only the proposition hashes are sized for the whole log.
  void grow(uint64_t offset) {
    const size_t size = held_.posits + out_.posits.size();
    size_t target = size + size / 2 + 16;
    const uint64_t read = offset > 64 ? offset - 64 : 0;
    if (size >= 64 && read > 0 && committed_ > offset) {
      const double projected = double(size) * double(committed_ - 64) / double(read) * 1.02 + 16;
      if (projected > double(target)) target = static_cast<size_t>(projected);
    }
    propositions_.reserve(target);
    if (sink_ != nullptr) {
      out_.posits.reserve(kSinkChunk);
      return;
    }
    out_.posits.reserve(target);
    // The member pool at the mean member count read so far.
    if (size > 0) {
      const double mean = double(out_.members.size()) / double(size);
      const auto members = static_cast<size_t>(mean * double(target)) + 16;
      if (members > out_.members.capacity()) out_.members.reserve(members);
    }
  }

  WorkerPool* pool_;
  ReplaySink* sink_;
  bool sink_ok_ = true;              // the sink has not failed
  size_t handed_ = 0;                // Posits handed to the sink
  HeldFrom held_;
  WindowFrames* ahead_ = nullptr;  // the source that decoded the Posits ahead, if any
  ReplayedLog out_;
  uint64_t committed_ = 0;
  size_t applied_posits_ = 0;
  size_t counted_posits_ = 0;        // applied Posits of batches whose Commit was reached
  std::optional<EngineError> deferred_;  // the failure of a record of the open batch
  uint64_t open_count_ = 0;          // records of the open batch
  uint64_t open_first_ = 0, open_last_ = 0;
  Identity max_id_ = 0;              // largest Role or Posit identity applied
  BlockVector<Identity> fresh_ids_;  // applied identities not yet in `used_`, ascending
  std::vector<uint8_t> arena_;       // payload of the current frame
  std::vector<ReplayedMember> decoded_;  // members of the Posit being decoded
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

Result<ReplayedLog> replay(Fs& fs, Fd log, uint64_t committed_length, const ReplayTuning& tuning,
                           ReplaySink* sink) {
  if (committed_length >= kLogHeaderSize && committed_length - kLogHeaderSize >= tuning.parallel_from) {
    WorkerPool pool(replay_threads(tuning) - 1);
    Replayer replayer(fs, log, &pool, sink);
    WindowFrames frames(fs, log, committed_length, tuning, pool, replayer.log(), replayer.held(), sink == nullptr,
                        replayer.propositions(), [&replayer] { replayer.drop_held(); });
    auto replayed = replayer.run(frames, committed_length, &frames);
    // A failed read is left to the sequential pass, which reports it at the frame it belongs to.
    if (!frames.read_failed()) return replayed;
    if (sink != nullptr) sink->restart();
  }
  Replayer replayer(fs, log, nullptr, sink);
  SequentialFrames frames(fs, log, committed_length);
  return replayer.run(frames, committed_length, nullptr);
}

}  // namespace brackwater::storage
