#include "storage/replay.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "storage/interpose_fs_test_util.h"
#include "storage/log_frame.h"
#include "storage/mem_fs_test_util.h"
#include "storage/record_codec.h"
#include "storage/store_test_util.h"
#include "storage/text.h"

namespace brackwater::storage {
namespace {

using B = std::vector<uint8_t>;
using testing::genesis_records;
using testing::role_record;

// Frames records into a log image, with sequences and Commits as the writer assigns them.
class LogBuilder {
 public:
  struct Frame {
    B payload;
    uint8_t type;
    uint64_t sequence;
  };
  std::vector<Frame> frames;

  // One record frame; returns its sequence.
  uint64_t record(const PendingRecord& r) {
    frame(r.payload, r.type, seq_);
    pending_.push_back(seq_);
    return seq_++;
  }
  // A Commit over the records since the last one (fields overridable).
  void commit(std::optional<CommitPayload> fields = std::nullopt, B extra = {}) {
    CommitPayload c{batch_++, pending_.empty() ? 0 : pending_.front(), pending_.empty() ? 0 : pending_.back(),
                    pending_.size()};
    B payload = encode_commit_payload(fields.value_or(c));
    payload.insert(payload.end(), extra.begin(), extra.end());
    frame(std::move(payload), 255, seq_++);
    pending_.clear();
  }
  void batch(const std::vector<PendingRecord>& records) {
    for (const auto& r : records) record(r);
    commit();
  }
  void frame(B payload, uint8_t type, uint64_t sequence) { frames.push_back({std::move(payload), type, sequence}); }
  void skip_sequence() { ++seq_; }

  // The log image, with payload byte `at` of frame `f` xor-ed with `flip` when given.
  B bytes(size_t f = SIZE_MAX, size_t at = 0, uint8_t flip = 0) const {
    auto header = encode_log_header(Uuid{});
    B out(header.begin(), header.end());
    for (size_t i = 0; i < frames.size(); ++i) {
      B payload = frames[i].payload;
      if (i == f) payload[at] ^= flip;
      ByteWriter w;
      EXPECT_TRUE(encode_log_frame(payload, frames[i].sequence, 0, frames[i].type, 1, w));
      out.insert(out.end(), w.bytes().begin(), w.bytes().end());
    }
    return out;
  }

 private:
  uint64_t seq_ = 1, batch_ = 1;
  std::vector<uint64_t> pending_;
};

std::string posit_text(const ReplayedPosit& p, std::span<const ReplayedMember> members) {
  std::string out = str_cat(" ", p.identity, "[");
  for (auto [role, thing] : members) out += str_cat(role, ":", thing, ",");
  return out + str_cat("]", p.value.text, "/", static_cast<int>(p.value.kind), "@", p.time.display());
}

// What a replay hands to its sink, written as `outcome` writes a log; every Posit's Roles must have
// come before it.
struct RecordingSink final : ReplaySink {
  std::string roles, posit_texts;
  std::set<Identity> known;
  int restarts = 0;

  Result<void> role(const ReplayedRole& r) override {
    roles += str_cat(" ", r.identity, r.name, int(r.reserved));
    known.insert(r.identity);
    return {};
  }
  Result<void> posits(const ReplayedPosits& chunk) override {
    for (const ReplayedPosit& p : chunk.posits) {
      for (auto [role, thing] : chunk.members_of(p)) EXPECT_TRUE(known.contains(role)) << role;
      posit_texts += posit_text(p, chunk.members_of(p));
    }
    return {};
  }
  void restart() override {
    roles.clear();
    posit_texts.clear();
    known.clear();
    ++restarts;
  }
};

Result<ReplayedLog> run(const B& log, uint64_t committed = 0, const ReplayTuning& tuning = {},
                        ReplaySink* sink = nullptr, std::shared_ptr<Fs> fs = nullptr) {
  Fd fd;
  if (fs) {
    fd = *fs->open_at(kCurrentDir, "log", OpenMode::CreateNew);
    EXPECT_TRUE(write_all(*fs, fd, 0, log));
  } else {
    std::tie(fs, fd) = testing::MemFs::with_log(log);
  }
  return replay(*fs, fd, committed ? committed : log.size(), tuning, sink);
}

// The replayed log written out (counters; Roles; Posits with members, value and time), or the error.
// With a sink, the Posits are those it was handed (the replayed log then keeps none).
std::string outcome(const B& log, uint64_t committed = 0, const ReplayTuning& tuning = {},
                    RecordingSink* sink = nullptr, std::shared_ptr<Fs> fs = nullptr) {
  auto r = run(log, committed, tuning, sink, std::move(fs));
  if (!r) return r.error().display();
  std::string out = str_cat(r->next_record_seq, " ", r->next_batch_seq, " ", r->batch_count, " ",
                            int(r->codec_registry_complete), ";");
  std::string roles;
  for (const auto& role : r->roles) roles += str_cat(" ", role.identity, role.name, int(role.reserved));
  out += roles;
  if (sink != nullptr) {
    EXPECT_TRUE(r->posits.empty());
    EXPECT_EQ(sink->roles, roles);
    return out + sink->posit_texts;
  }
  for (const auto& p : r->posits) out += posit_text(p, r->members_of(p));
  return out;
}

std::string error_of(const B& log, uint64_t committed = 0) {
  auto r = run(log, committed);
  return r ? std::string("ok") : r.error().display();
}

std::string at(uint64_t offset, uint64_t seq, std::string_view message) {
  return "Data corruption: segment log-0000000000000001.btl, byte offset " + std::to_string(offset) +
         ", record sequence " + std::to_string(seq) + ": " + std::string(message);
}

TEST(Replay, EmptyBatchesThenGenesisAndPositsInLogOrder) {
  LogBuilder log;
  EXPECT_EQ(outcome(log.bytes()), "1 1 0 0;");
  log.commit();  // empty batches before genesis are allowed
  EXPECT_EQ(outcome(log.bytes()), "2 2 1 0;");
  log.batch(genesis_records());
  testing::PositFactory posits;
  log.batch({role_record(6, "name"), posits.make(8, {{6, 7}}, "\"a\""),
             posits.make(9, {{3, 7}, {6, 8}}, "42", literal::LiteralKind::Integer)});
  EXPECT_EQ(outcome(log.bytes()), "15 4 3 1; 1posit1 2ascertains1 3thing1 4class1 5subclass1 6name0 "
                                  "8[6:7,]\"a\"/1@BOT 9[3:7,6:8,]42/2@BOT");
}

TEST(Replay, BatchAndSequenceChecks) {
  const std::pair<std::function<void(LogBuilder&)>, std::string> cases[] = {
      {[](LogBuilder& l) { l.record(role_record(1, "posit", true)), l.commit(CommitPayload{1, 1, 1, 2}); },
       at(64 + 36, 2, "invalid Commit: batch/range/count (1, 1, 1, 2)")},
      {[](LogBuilder& l) { l.commit(CommitPayload{2, 0, 0, 0}); }, at(64, 1, "invalid Commit: batch/range/count (2, 0, 0, 0)")},
      {[](LogBuilder& l) { l.commit(std::nullopt, {0x00}); }, at(64, 1, "commit has trailing fields")},
      // A truncated Commit field: no context.
      {[](LogBuilder& l) { l.frame(B(20, 0), 255, 1); }, "Data corruption: truncated commit last sequence"},
      {[](LogBuilder& l) { l.skip_sequence(), l.commit(); }, at(64, 2, "record sequence gap: expected 1, found 2")},
      {[](LogBuilder& l) { l.frame({}, 4, 1); }, at(64, 1, "unknown mandatory record type 4")},
      {[](LogBuilder& l) { l.frame({}, 255, UINT64_MAX); },
       at(64, UINT64_MAX, "record sequence gap: expected 1, found 18446744073709551615")},
  };
  for (const auto& [build, message] : cases) {
    LogBuilder log;
    build(log);
    EXPECT_EQ(error_of(log.bytes()), message);
  }
}

TEST(Replay, ALongAscendingRunLoadsInOrderAndKeepsEveryIdentityKnown) {
  testing::PositFactory posits;
  LogBuilder log;
  log.batch(genesis_records());
  std::vector<PendingRecord> batch;
  for (uint64_t i = 0; i < 70000; ++i) batch.push_back(posits.make(100 + i, {{3, 7}}, str_cat("\"", i, "\"")));
  log.batch(batch);
  auto replayed = run(log.bytes());
  ASSERT_TRUE(replayed) << replayed.error().display();
  ASSERT_EQ(replayed->posits.size(), 70000u);
  for (uint64_t i = 0; i < 70000; ++i) ASSERT_EQ(replayed->posits[i].identity, 100 + i);
  // An identity from the run's start, repeated after it.
  const uint64_t repeat = log.record(posits.make(101, {{3, 7}}, "\"again\""));
  log.commit();
  EXPECT_EQ(error_of(log.bytes()), str_cat("Data corruption: record sequence ", repeat, ": duplicate Role or Posit identity"));
}

TEST(Replay, RecordChecksNameTheRecordSequence) {
  testing::PositFactory posits;
  auto integer = [&](Identity id, int value, literal::TimeValue time = literal::TimeValue::bot()) {
    return posits.make(id, {{3, 7}}, std::to_string(value), literal::LiteralKind::Integer, time);
  };
  const std::vector<PendingRecord> g = genesis_records();
  std::vector<PendingRecord> moved_thing = g, unreserved = g, no_codec = g, many;
  moved_thing[2] = role_record(7, "thing", true);
  unreserved[0] = role_record(1, "posit", false);
  no_codec.pop_back();
  for (int i = 0; i < 3000; ++i) many.push_back(integer(100 + i, i));  // sequences 10 .. 3009, Commit 3010
  const std::string seq = "Data corruption: record sequence ";
  const std::pair<std::vector<std::vector<PendingRecord>>, std::string> cases[] = {
      // A Posit before any Codec record: the inner display is kept, prefix and all.
      {{{role_record(6, "r"), posits.make(8, {{6, 7}}, "1", literal::LiteralKind::Integer)}},
       seq + "2: Data corruption: unknown or not-yet-declared Posit codec"},
      {{g, {posits.make(8, {{3, 7}}, "\"a\""), role_record(8, "late")}}, seq + "11: duplicate or conflicting Role record"},
      {{g, {role_record(6, "thing")}}, seq + "10: duplicate or conflicting Role record"},
      {{g, {posits.make(3, {{3, 7}}, "\"a\"")}}, seq + "10: duplicate Role or Posit identity"},
      {{g, {encode_codec_payload(1)}}, seq + "10: duplicate Codec record"},
      {{g, {posits.make(8, {{9, 7}}, "\"a\"")}}, seq + "10: Posit references an unknown Role"},
      // Same members, text and time: the family does not matter.
      {{g, {integer(8, 12)}, {posits.make(9, {{3, 7}}, "12", literal::LiteralKind::Time)}},
       seq + "12: duplicate Posit proposition"},
      // Different times are different propositions; different time precisions too.
      {{g, {integer(8, 1, literal::TimeValue::of_year(2001)), integer(9, 1, literal::TimeValue::of_date(2001, 1, 1))}},
       "ok"},
      // 3011 repeats the last of `many`, 3012 an earlier one, and a later batch fails otherwise.
      {{g, many, {integer(5000, 2999), integer(5001, 5)}, {role_record(0, "corrupt")}},
       seq + "3011: duplicate Posit proposition"},
      // Built-in Roles and Codecs are required once anything was applied.
      {{moved_thing}, "Data corruption: built-in Role 'thing' must be reserved identity 3"},
      {{unreserved}, "Data corruption: built-in Role 'posit' must be reserved identity 1"},
      {{{encode_codec_payload(0), encode_codec_payload(1), encode_codec_payload(2)}},
       "Data corruption: built-in Role 'posit' must be reserved identity 1"},
      {{no_codec}, "Data corruption: store lacks one or more mandatory v1 codecs"},
  };
  for (const auto& [batches, message] : cases) {
    LogBuilder log;
    for (const auto& b : batches) log.batch(b);
    EXPECT_EQ(error_of(log.bytes()), message);
  }
}

TEST(Replay, ACorruptRecordSurfacesAtItsCommitUnlessTheBatchIsCut) {
  LogBuilder log;
  log.batch(genesis_records());
  const uint64_t before = log.bytes().size();
  log.record(role_record(0, "bad"));
  const uint64_t after_record = log.bytes().size();
  log.commit();
  // A Role payload failure carries no context.
  EXPECT_EQ(error_of(log.bytes()), "Data corruption: Role identity 0 is reserved for genesis");
  EXPECT_EQ(error_of(log.bytes(), after_record),
            at(after_record, 10, "manifest committed length ends outside a Commit frame"));
  EXPECT_EQ(error_of(log.bytes(), before), "ok");
}

// The windowed pass (delimited in order, checked and decoded on threads, applied in order) against
// the one sequential pass: the same outcome, to the message, for every damaged payload byte of every
// frame (checksums made to match, so that the record checks are reached), every third frame byte
// and every other committed length. Windows of 64 bytes (smaller than most frames) and of 300 bytes.
// With `late_codecs`, the integer and certainty codecs are declared only in the third batch: Posits
// of the second that use one fail at their codec, before any later field.
LogBuilder windowed_log(bool late_codecs) {
  LogBuilder log;
  testing::PositFactory posits;
  auto genesis = genesis_records();
  const size_t early = late_codecs ? genesis.size() - 2 : genesis.size();
  std::vector<PendingRecord> first(genesis.begin(), genesis.begin() + early);
  first.push_back(role_record(6, "r6"));
  first.push_back(role_record(7, "r7"));
  log.batch(first);
  log.batch({posits.make(20, {{6, 100}}, "\"a\""), posits.make(21, {{6, 101}, {7, 102}}, "12", literal::LiteralKind::Integer,
                                                             literal::TimeValue::of_year(2001))});
  std::vector<PendingRecord> third(genesis.begin() + early, genesis.end());
  third.push_back(posits.make(22, {{7, 103}}, "-5", literal::LiteralKind::Integer));
  log.batch(third);
  for (Identity id = 23; id < 35; ++id) {
    log.batch({posits.make(id, {{6, id * 10}, {7, id * 10 + 1}}, std::to_string(id), literal::LiteralKind::Integer,
                           literal::TimeValue::of_date(2000 + int32_t(id), 1 + id % 12, 1)),
               posits.make(id + 100, {{6, id}}, "\"t" + std::to_string(id) + "\"", literal::LiteralKind::String,
                           literal::TimeValue::of_year(1990)),
               posits.make(id + 200, {{3, id}}, std::to_string(id % 100) + "%", literal::LiteralKind::Certainty)});
  }
  return log;
}

TEST(Replay, WindowsReportWhatOnePassReports) {
  const ReplayTuning one_pass{.parallel_from = UINT64_MAX};
  const ReplayTuning windows[] = {{.parallel_from = 0, .window = 64, .threads = 3},
                                  {.parallel_from = 0, .window = 300, .threads = 2}};
  for (bool late_codecs : {false, true}) {
    const LogBuilder log = windowed_log(late_codecs);
    size_t cases = 0, failures = 0;
    auto check = [&](const B& image, uint64_t committed, size_t variant) {
      const std::string expected = outcome(image, committed, one_pass);
      EXPECT_EQ(outcome(image, committed, windows[variant % 2]), expected) << "case " << cases;
      ++cases;
      failures += expected.starts_with("Data corruption");
    };
    const B whole = log.bytes();
    check(whole, whole.size(), 0);
    EXPECT_EQ(failures, late_codecs ? 1u : 0u);
    // The late codecs matter to the first batches only.
    for (size_t f = 0; f < (late_codecs ? 16 : log.frames.size()); ++f) {
      for (size_t at = 0; at < log.frames[f].payload.size(); ++at) check(log.bytes(f, at, 0x01), whole.size(), at);
    }
    if (late_codecs) continue;
    for (size_t at = kLogHeaderSize; at < whole.size(); at += 3) {
      B damaged = whole;
      damaged[at] ^= 0x10;
      check(damaged, whole.size(), at);
    }
    for (uint64_t committed = kLogHeaderSize; committed <= whole.size(); committed += 2) check(whole, committed, committed);
    EXPECT_GT(failures, cases / 2);
    RecordProperty("cases", static_cast<int>(cases));
  }
}

// A sink is handed the applied records ahead of their Commits and of the checks at the end: what it
// got counts only when the replay succeeds, and then it is the whole log in order, whatever the
// windows, also when a failed read sent the pass back to the start.
TEST(Replay, SinkGetsTheLogWhenReplaySucceeds) {
  const ReplayTuning one_pass{.parallel_from = UINT64_MAX};
  const ReplayTuning windows{.parallel_from = 0, .window = 300, .threads = 2};
  const B whole = windowed_log(false).bytes();
  auto check = [&](const B& image, uint64_t committed) {
    const std::string expected = outcome(image, committed, one_pass);
    for (const ReplayTuning& tuning : {one_pass, windows}) {
      RecordingSink sink;
      EXPECT_EQ(outcome(image, committed, tuning, &sink), expected) << committed;
    }
  };
  check(whole, whole.size());
  for (size_t at = kLogHeaderSize; at < whole.size(); at += 7) {
    B damaged = whole;
    damaged[at] ^= 0x04;
    check(damaged, whole.size());
  }
  for (uint64_t committed = kLogHeaderSize; committed <= whole.size(); committed += 5) check(whole, committed);

  auto failing = std::make_shared<testing::InterposeFs>(std::make_shared<testing::MemFs>());
  failing->arm(4, testing::FaultKind::Errno);  // a window read, after records were handed over
  RecordingSink sink;
  EXPECT_EQ(outcome(whole, whole.size(), windows, &sink, failing), outcome(whole, whole.size(), one_pass));
  EXPECT_TRUE(failing->fault_fired());
  EXPECT_EQ(sink.restarts, 1);
}

}  // namespace
}  // namespace brackwater::storage
