#include "storage/replay.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <limits>
#include <string_view>
#include <unordered_map>

#include <roaring/roaring64map.hh>

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

// The applied propositions (members, value text, time). Duplicates are found in one pass after the
// records were applied: sorting the keyed hashes keeps the work sequential, where a hash table probe
// per Posit would miss the cache at every insert. The earliest repeating Posit is reported; it
// precedes any failure the replay met later, so checking at the end gives the same first error.
class PropositionLog {
 public:
  PropositionLog(const ReplayedLog& log, uint64_t key) : log_(log), key_(key) {}

  void reserve(size_t n) {
    entries_.reserve(n);
    sequences_.reserve(n);
  }

  void add(size_t index, uint64_t sequence) {
    entries_.push_back(Entry{hash(log_.posits[index]), index});
    sequences_.push_back(sequence);
  }

  // The record sequence of the first Posit whose proposition an earlier Posit already holds.
  std::optional<uint64_t> first_duplicate() {
    // Partition by the top hash bits into cache-sized buckets, then sort each bucket.
    unsigned bits = 0;
    while (bits < 20 && (entries_.size() >> bits) > 512) ++bits;
    std::vector<Entry> sorted(entries_.size());
    std::vector<size_t> starts((size_t(1) << bits) + 1, 0);
    auto bucket = [bits](uint64_t h) { return bits == 0 ? 0 : static_cast<size_t>(h >> (64 - bits)); };
    for (const Entry& e : entries_) ++starts[bucket(e.hash) + 1];
    for (size_t b = 1; b < starts.size(); ++b) starts[b] += starts[b - 1];
    std::vector<size_t> next(starts.begin(), starts.end() - 1);
    for (const Entry& e : entries_) sorted[next[bucket(e.hash)]++] = e;

    std::optional<size_t> first;
    for (size_t b = 0; b + 1 < starts.size(); ++b) {
      auto begin = sorted.begin() + starts[b], end = sorted.begin() + starts[b + 1];
      std::sort(begin, end, [](const Entry& x, const Entry& y) { return x.hash != y.hash ? x.hash < y.hash : x.index < y.index; });
      for (auto run = begin; run != end;) {
        auto run_end = run + 1;
        while (run_end != end && run_end->hash == run->hash) ++run_end;
        for (auto j = run + 1; j != run_end && (!first || j->index < *first); ++j) {
          for (auto i = run; i != j; ++i) {
            if (same(log_.posits[i->index], log_.posits[j->index])) {
              first = j->index;
              break;
            }
          }
          if (first && *first == j->index) break;
        }
        run = run_end;
      }
    }
    if (!first) return std::nullopt;
    return sequences_[*first];
  }

 private:
  struct Entry {
    uint64_t hash;
    size_t index;
  };

  uint64_t hash(const ReplayedPosit& p) const {
    KeyedHasher h(key_);
    h.write_u64(p.member_count);
    for (auto [role, thing] : log_.members_of(p)) {
      h.write_u64(role);
      h.write_u64(thing);
    }
    h.write_bytes(p.value.text);
    p.time.hash_into(h);
    return h.finish();
  }

  bool same(const ReplayedPosit& a, const ReplayedPosit& b) const {
    return std::ranges::equal(log_.members_of(a), log_.members_of(b)) && a.value.text == b.value.text &&
           a.time.identical(b.time);
  }

  const ReplayedLog& log_;
  uint64_t key_;
  std::vector<Entry> entries_;
  std::vector<uint64_t> sequences_;  // record sequence by Posit index
};

class Replayer {
 public:
  Replayer() : propositions_(out_, random_key()) {}

  // Replays the log; a repeated proposition among the applied Posits is the first failure.
  Result<ReplayedLog> run(Fs& fs, Fd log, uint64_t committed) {
    committed_ = committed;
    auto result = scan(fs, log, committed);
    if (auto duplicate = propositions_.first_duplicate()) {
      return fail(record_error(*duplicate, "duplicate Posit proposition"));
    }
    if (!result) return fail(std::move(result.error()));
    return std::move(out_);
  }

 private:
  Result<void> scan(Fs& fs, Fd log, uint64_t committed) {
    FrameReader reader(fs, log, committed);
    uint64_t expected = 1;
    while (!reader.at_end()) {
      auto frame = reader.next(arena_);
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
      return fail(frame_error(reader.offset(), pending_.front().sequence,
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
    if (!identity_unused(posit->identity)) {
      return fail(record_error(f.sequence, "duplicate Role or Posit identity"));
    }
    for (auto [role, thing] : out_.members_of(*posit)) {
      if (!role_ids_.contains(role)) return fail(record_error(f.sequence, "Posit references an unknown Role"));
    }
    mark_used(posit->identity);
    if (out_.posits.size() == out_.posits.capacity()) grow(f.offset);
    out_.posits.push_back(std::move(*posit));
    propositions_.add(out_.posits.size() - 1, f.sequence);
    applied_any_ = true;
    return {};
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

  ReplayedLog out_;
  uint64_t committed_ = 0;
  Identity max_id_ = 0;             // largest Role or Posit identity applied
  std::vector<Identity> fresh_ids_;  // applied identities not yet in `used_`, ascending
  std::vector<uint8_t> arena_;     // payloads of the open batch
  std::vector<FrameInfo> pending_;  // records of the open batch
  CodecSet declared_ = 0;
  bool applied_any_ = false;
  Roaring64Map used_;      // Role and Posit identities
  Roaring64Map role_ids_;  // Role identities
  std::unordered_map<std::string, size_t> role_by_name_;
  PropositionLog propositions_;
};

}  // namespace

Result<ReplayedLog> replay(Fs& fs, Fd log, uint64_t committed_length) {
  Replayer replayer;
  return replayer.run(fs, log, committed_length);
}

}  // namespace brackwater::storage
