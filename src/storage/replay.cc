#include "storage/replay.h"

#include <chrono>
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

// The set of applied propositions (members, value text, time), as indices into the Posit list.
class PropositionSet {
 public:
  PropositionSet(const std::vector<ReplayedPosit>& posits, uint64_t key) : posits_(posits), key_(key) {}

  // Inserts the Posit at `index`; false when an equal proposition is already present.
  bool insert(size_t index) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    const uint64_t h = hash(posits_[index]);
    size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
      Slot& s = slots_[i];
      if (s.index_plus_one == 0) {
        s = Slot{h, index + 1};
        ++size_;
        return true;
      }
      if (s.hash == h && same(posits_[s.index_plus_one - 1], posits_[index])) return false;
    }
  }

 private:
  struct Slot {
    uint64_t hash = 0;
    size_t index_plus_one = 0;
  };

  uint64_t hash(const ReplayedPosit& p) const {
    KeyedHasher h(key_);
    h.write_u64(p.members.size());
    for (auto [role, thing] : p.members) {
      h.write_u64(role);
      h.write_u64(thing);
    }
    h.write_bytes(p.value.text);
    p.time.hash_into(h);
    return h.finish();
  }

  static bool same(const ReplayedPosit& a, const ReplayedPosit& b) {
    return a.members == b.members && a.value.text == b.value.text && a.time.identical(b.time);
  }

  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    const size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.index_plus_one == 0) continue;
      size_t i = s.hash & mask;
      while (slots_[i].index_plus_one != 0) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  const std::vector<ReplayedPosit>& posits_;
  uint64_t key_;
  std::vector<Slot> slots_;
  size_t size_ = 0;
};

class Replayer {
 public:
  Replayer() : propositions_(out_.posits, random_key()) {}

  Result<ReplayedLog> run(Fs& fs, Fd log, uint64_t committed) {
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
    return std::move(out_);
  }

 private:
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
    if (used_.contains(role->identity) || role_by_name_.contains(role->name)) {
      return fail(record_error(f.sequence, "duplicate or conflicting Role record"));
    }
    used_.add(role->identity);
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
    auto posit = decode_posit(payload(f), declared_);
    if (!posit) return fail(record_error(f.sequence, posit.error().display()));
    if (used_.contains(posit->identity)) return fail(record_error(f.sequence, "duplicate Role or Posit identity"));
    for (auto [role, thing] : posit->members) {
      if (!role_ids_.contains(role)) return fail(record_error(f.sequence, "Posit references an unknown Role"));
    }
    out_.posits.push_back(std::move(*posit));
    if (!propositions_.insert(out_.posits.size() - 1)) {
      out_.posits.pop_back();
      return fail(record_error(f.sequence, "duplicate Posit proposition"));
    }
    used_.add(out_.posits.back().identity);
    applied_any_ = true;
    return {};
  }

  ReplayedLog out_;
  std::vector<uint8_t> arena_;     // payloads of the open batch
  std::vector<FrameInfo> pending_;  // records of the open batch
  CodecSet declared_ = 0;
  bool applied_any_ = false;
  Roaring64Map used_;      // Role and Posit identities
  Roaring64Map role_ids_;  // Role identities
  std::unordered_map<std::string, size_t> role_by_name_;
  PropositionSet propositions_;
};

}  // namespace

Result<ReplayedLog> replay(Fs& fs, Fd log, uint64_t committed_length) {
  Replayer replayer;
  return replayer.run(fs, log, committed_length);
}

}  // namespace brackwater::storage
