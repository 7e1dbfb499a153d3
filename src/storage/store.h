// The append-only store: a directory holding "store.lock", "manifest.bmf" (replaced through
// "manifest.next") and the log segment "log-0000000000000001.btl".
//
// Opening takes an exclusive lock, validates the manifest and the log header, cuts the log back to
// its committed length and replays it. Every accepted batch is appended as one committed batch:
// data, flush, manifest replacement, directory flush; the log's flush runs on a thread that lives
// with the store while the next manifest is staged. After an uncertain write the writer is
// fail-closed until the store is opened again.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "construct/block_storage.h"
#include "construct/error.h"
#include "construct/identity.h"
#include "construct/records.h"
#include "literal/literal.h"
#include "literal/time_value.h"
#include "storage/bytes.h"

namespace brackwater::storage {

using construct::Identity;
using construct::Result;

enum class RecordType : uint8_t { Role = 1, Codec = 2, Posit = 3, Commit = 255 };

// What the engine hands to the store for one record.
struct PendingRecord {
  std::vector<uint8_t> payload;
  uint16_t flags = 0;
  uint8_t type = 0;
  uint8_t version = 1;
};

// A record with its assigned sequence, as framed in the log.
struct SequencedRecord {
  std::vector<uint8_t> payload;
  uint64_t sequence = 0;
  uint16_t flags = 0;
  uint8_t type = 0;
  uint8_t version = 1;
};

struct ReplayedRole {
  std::string name;
  Identity identity = 0;
  bool reserved = false;
};

// A (Role, Thing) pair of a replayed Posit.
using ReplayedMember = std::pair<Identity, Identity>;

// A replayed Posit; its members are `member_count` pairs from `first_member` of the log's pool.
struct ReplayedPosit {
  Identity identity = 0;
  uint64_t first_member = 0;
  uint64_t member_count = 0;
  literal::Literal value;
  literal::TimeValue time;
};

// Replayed Posits in log order; a Posit's members are at first_member - `first_member` of `members`.
struct ReplayedPosits {
  std::span<ReplayedPosit> posits;
  std::span<const ReplayedMember> members;
  uint64_t first_member = 0;

  std::span<const ReplayedMember> members_of(const ReplayedPosit& p) const {
    return members.subspan(p.first_member - first_member, p.member_count);
  }
};

// Takes the records of a replay in log order as they are applied, so that a large log is never held
// whole beside what is built from it. Records reach the sink before the Commit that closes their
// batch has been read and before the checks at the end of the log: an open whose replay fails must
// discard everything the sink built. A sink that fails is not called again; replay goes on and
// reports its own failure first. After restart() the records come again from the first one.
class ReplaySink {
 public:
  virtual ~ReplaySink() = default;
  virtual Result<void> role(const ReplayedRole& role) = 0;
  virtual Result<void> posits(const ReplayedPosits& posits) = 0;
  virtual void restart() = 0;
};

// The large arrays of a replay are block storage (construct/block_storage.h): their pages go back
// to the system when they are freed, from whichever thread replayed.
using construct::BlockVector;

struct ReplayedLog {
  std::vector<ReplayedRole> roles;      // log order
  BlockVector<ReplayedPosit> posits;    // log order; empty when a sink took them
  BlockVector<ReplayedMember> members;  // every Posit's members, in Posit order
  uint64_t posit_count = 0;             // Posits replayed, kept here or handed to a sink
  bool codec_registry_complete = false;
  uint64_t next_record_seq = 1;
  uint64_t next_batch_seq = 1;
  uint64_t batch_count = 0;

  // The members of `p` (a Posit of this log), (Role, Thing) in canonical order.
  std::span<const ReplayedMember> members_of(const ReplayedPosit& p) const {
    return std::span<const ReplayedMember>(members).subspan(p.first_member, p.member_count);
  }
};

class Fs;  // the file-system interface under the store (storage/fs.h)

class Store {
 public:
  // Opens (creating when new) the store directory at `path` on the real file system. With a sink,
  // the replayed Posits go to it rather than into the returned log.
  static Result<std::pair<std::unique_ptr<Store>, ReplayedLog>> open(const std::string& path,
                                                                     ReplaySink* sink = nullptr);
  // The same over an injected file system (tests).
  static Result<std::pair<std::unique_ptr<Store>, ReplayedLog>> open(const std::string& path,
                                                                     std::shared_ptr<Fs> fs,
                                                                     ReplaySink* sink = nullptr);
  ~Store();

  // Appends the records as one committed batch. The caller files its in-memory records only
  // after success.
  Result<std::vector<SequencedRecord>> append_batch(std::vector<PendingRecord> records);
  // The same for records of one type (version 1, no flags) whose payloads lie one after another in
  // `payloads`, record i ending at ends[i]: the log receives the same bytes.
  Result<void> append_batch(RecordType type, Bytes payloads, std::span<const uint64_t> ends);

  // Marks the writer fail-closed (a failure after a successful append, e.g. while filing in memory).
  void set_fail_closed();
  bool fail_closed() const;

  const std::string& directory() const;
  uint64_t committed_length() const;
  uint64_t batch_count() const;
  uint64_t next_record_seq() const;
  uint64_t next_batch_seq() const;

  struct State;

 private:
  explicit Store(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Record payloads.
PendingRecord encode_role_payload(const construct::Role& role);
PendingRecord encode_codec_payload(uint16_t codec_id);  // 0, 1 or 2
Result<PendingRecord> encode_posit_payload(Identity identity, const construct::AppearanceSet& set,
                                           const literal::Literal& value, const literal::TimeValue& time);
// The same payload appended to `out`.
Result<void> encode_posit_payload(Identity identity, const construct::AppearanceSet& set,
                                  const literal::Literal& value, const literal::TimeValue& time, ByteWriter& out);

}  // namespace brackwater::storage
