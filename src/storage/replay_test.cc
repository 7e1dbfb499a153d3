#include "storage/replay.h"

#include <gtest/gtest.h>

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
  LogBuilder() {
    auto header = encode_log_header(Uuid{});
    bytes_.assign(header.begin(), header.end());
  }
  // One record frame; returns its sequence.
  uint64_t record(const PendingRecord& r) {
    frame(r.payload, r.type, seq_);
    pending_.push_back(seq_);
    return seq_++;
  }
  // A Commit over the records since the last one (fields overridable).
  void commit(std::optional<CommitPayload> fields = std::nullopt, B extra = {}) {
    CommitPayload c{batch_, pending_.empty() ? 0 : pending_.front(), pending_.empty() ? 0 : pending_.back(),
                    pending_.size()};
    B payload = encode_commit_payload(fields.value_or(c));
    payload.insert(payload.end(), extra.begin(), extra.end());
    frame(payload, 255, seq_++);
    pending_.clear();
    ++batch_;
  }
  void batch(const std::vector<PendingRecord>& records) {
    for (const auto& r : records) record(r);
    commit();
  }
  void frame(const B& payload, uint8_t type, uint64_t sequence) {
    ByteWriter f;
    EXPECT_TRUE(encode_log_frame(payload, sequence, 0, type, 1, f));
    bytes_.insert(bytes_.end(), f.bytes().begin(), f.bytes().end());
  }
  void skip_sequence() { ++seq_; }
  const B& bytes() const { return bytes_; }

 private:
  B bytes_;
  uint64_t seq_ = 1, batch_ = 1;
  std::vector<uint64_t> pending_;
};

Result<ReplayedLog> run(const B& log, uint64_t committed = 0) {
  testing::MemFs fs;
  Fd fd = *fs.open_at(kCurrentDir, "log", OpenMode::CreateNew);
  EXPECT_TRUE(write_all(fs, fd, 0, log));
  return replay(fs, fd, committed ? committed : log.size());
}

std::string error_of(const B& log, uint64_t committed = 0) {
  auto r = run(log, committed);
  return r ? std::string("ok") : r.error().display();
}

std::string at(uint64_t offset, uint64_t seq, std::string_view message) {
  return "Data corruption: segment log-0000000000000001.btl, byte offset " + std::to_string(offset) +
         ", record sequence " + std::to_string(seq) + ": " + std::string(message);
}

TEST(Replay, EmptyLogsAndEmptyBatches) {
  LogBuilder empty;
  auto r = run(empty.bytes());
  ASSERT_TRUE(r);
  EXPECT_EQ(r->next_record_seq, 1u);
  EXPECT_EQ(r->next_batch_seq, 1u);
  EXPECT_EQ(r->batch_count, 0u);
  EXPECT_FALSE(r->codec_registry_complete);

  LogBuilder only_commit;
  only_commit.commit();
  r = run(only_commit.bytes());
  ASSERT_TRUE(r) << r.error().display();
  EXPECT_EQ(r->batch_count, 1u);
  EXPECT_EQ(r->next_record_seq, 2u);
  EXPECT_EQ(r->next_batch_seq, 2u);
  EXPECT_TRUE(r->roles.empty());
}

TEST(Replay, GenesisThenPositsInLogOrder) {
  LogBuilder log;
  log.commit();  // empty batches before genesis are allowed
  log.batch(genesis_records());
  testing::PositFactory posits;
  log.batch({role_record(6, "name"), posits.make(8, {{6, 7}}, "\"a\""), posits.make(9, {{6, 7}}, "\"b\"")});
  auto r = run(log.bytes());
  ASSERT_TRUE(r) << r.error().display();
  EXPECT_TRUE(r->codec_registry_complete);
  EXPECT_EQ(r->roles.size(), 6u);
  ASSERT_EQ(r->posits.size(), 2u);
  EXPECT_EQ(r->posits[1].value.text, "\"b\"");
  EXPECT_EQ(r->batch_count, 3u);
  EXPECT_EQ(r->next_record_seq, 15u);
}

TEST(Replay, BatchAndSequenceChecks) {
  {
    LogBuilder log;
    log.record(role_record(1, "posit", true));
    log.commit(CommitPayload{1, 1, 1, 2});
    EXPECT_EQ(error_of(log.bytes()), at(64 + 36, 2, "invalid Commit: batch/range/count (1, 1, 1, 2)"));
  }
  {
    LogBuilder log;
    log.commit(CommitPayload{2, 0, 0, 0});
    EXPECT_EQ(error_of(log.bytes()), at(64, 1, "invalid Commit: batch/range/count (2, 0, 0, 0)"));
  }
  {
    LogBuilder log;
    log.commit(std::nullopt, {0x00});
    EXPECT_EQ(error_of(log.bytes()), at(64, 1, "commit has trailing fields"));
  }
  {
    LogBuilder log;
    log.frame(B(20, 0), 255, 1);  // truncated Commit field: no context
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: truncated commit last sequence");
  }
  {
    LogBuilder log;
    log.skip_sequence();
    log.commit();
    EXPECT_EQ(error_of(log.bytes()), at(64, 2, "record sequence gap: expected 1, found 2"));
  }
  {
    LogBuilder log;
    log.frame({}, 4, 1);
    EXPECT_EQ(error_of(log.bytes()), at(64, 1, "unknown mandatory record type 4"));
  }
  {
    LogBuilder log;
    log.frame({}, 255, UINT64_MAX);
    auto r = run(log.bytes());
    EXPECT_EQ(r.error().display(), at(64, UINT64_MAX, "record sequence gap: expected 1, found 18446744073709551615"));
  }
  {
    // The committed length ends after a Role frame: the batch has no Commit.
    LogBuilder log;
    log.batch(genesis_records());
    const uint64_t role_seq = log.record(role_record(6, "x"));
    const uint64_t cut = log.bytes().size();
    log.commit();
    EXPECT_EQ(error_of(log.bytes(), cut),
              at(cut, role_seq, "manifest committed length ends outside a Commit frame"));
  }
}

TEST(Replay, RepeatedIdentityIsFoundInAnyOrder) {
  testing::PositFactory posits;
  {
    // Descending and interleaved identities: the repeat is still caught at its own record.
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({posits.make(20, {{3, 7}}, "\"a\""), posits.make(10, {{3, 7}}, "\"b\""),
               posits.make(30, {{3, 7}}, "\"c\""), posits.make(10, {{3, 7}}, "\"d\"")});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 13: duplicate Role or Posit identity");
  }
  {
    // A long ascending run, then an identity from its start: every identity read stays known.
    LogBuilder log;
    log.batch(genesis_records());
    const uint64_t n = 70000;
    std::vector<PendingRecord> batch;
    for (uint64_t i = 0; i < n; ++i) batch.push_back(posits.make(100 + i, {{3, 7}}, str_cat("\"", i, "\"")));
    log.batch(std::move(batch));
    const uint64_t repeat = log.record(posits.make(101, {{3, 7}}, "\"again\""));
    log.commit();
    EXPECT_EQ(error_of(log.bytes()),
              str_cat("Data corruption: record sequence ", repeat, ": duplicate Role or Posit identity"));
  }
  {
    // The same run without the repeat loads every Posit in log order.
    LogBuilder log;
    log.batch(genesis_records());
    std::vector<PendingRecord> batch;
    for (uint64_t i = 0; i < 70000; ++i) batch.push_back(posits.make(100 + i, {{3, 7}}, str_cat("\"", i, "\"")));
    log.batch(std::move(batch));
    auto replayed = run(log.bytes());
    ASSERT_TRUE(replayed) << replayed.error().display();
    ASSERT_EQ(replayed->posits.size(), 70000u);
    for (uint64_t i = 0; i < 70000; ++i) ASSERT_EQ(replayed->posits[i].identity, 100 + i);
  }
}

TEST(Replay, RecordChecksNameTheRecordSequence) {
  testing::PositFactory posits;
  {
    // A Posit before any Codec record: the inner display is kept, prefix and all.
    LogBuilder log;
    log.batch({role_record(6, "r"), posits.make(8, {{6, 7}}, "1", literal::LiteralKind::Integer)});
    EXPECT_EQ(error_of(log.bytes()),
              "Data corruption: record sequence 2: Data corruption: unknown or not-yet-declared Posit codec");
  }
  {
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({posits.make(8, {{3, 7}}, "\"a\""), role_record(8, "late")});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 11: duplicate or conflicting Role record");
  }
  {
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({posits.make(3, {{3, 7}}, "\"a\"")});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 10: duplicate Role or Posit identity");
  }
  {
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({role_record(6, "thing")});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 10: duplicate or conflicting Role record");
  }
  {
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({encode_codec_payload(1)});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 10: duplicate Codec record");
  }
  {
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({posits.make(8, {{9, 7}}, "\"a\"")});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 10: Posit references an unknown Role");
  }
  {
    // Same members, text and time: the family does not matter.
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({posits.make(8, {{3, 7}}, "12", literal::LiteralKind::Integer)});
    log.batch({posits.make(9, {{3, 7}}, "12", literal::LiteralKind::Time)});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 12: duplicate Posit proposition");
  }
  {
    // A Role payload failure carries no context.
    LogBuilder log;
    log.batch({role_record(0, "zero")});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: Role identity 0 is reserved for genesis");
  }
  {
    // Different times are different propositions; different time precisions too.
    LogBuilder log;
    log.batch(genesis_records());
    log.batch({posits.make(8, {{3, 7}}, "\"a\"", literal::LiteralKind::String, literal::TimeValue::of_year(2001)),
               posits.make(9, {{3, 7}}, "\"a\"", literal::LiteralKind::String, literal::TimeValue::of_date(2001, 1, 1))});
    EXPECT_EQ(error_of(log.bytes()), "ok");
  }
}

TEST(Replay, TheEarliestRepeatedPropositionIsReportedBeforeLaterFailures) {
  testing::PositFactory posits;
  auto posit = [&](Identity id, int value) {
    return posits.make(id, {{3, 7}}, std::to_string(value), literal::LiteralKind::Integer);
  };
  LogBuilder log;
  log.batch(genesis_records());
  std::vector<PendingRecord> many;
  for (int i = 0; i < 3000; ++i) many.push_back(posit(100 + i, i));
  log.batch(many);                                // sequences 10 .. 3009, Commit 3010
  log.batch({posit(5000, 2999), posit(5001, 5)});  // 3011 repeats the last, 3012 an earlier one
  log.batch({role_record(0, "corrupt")});          // a later failure
  EXPECT_EQ(error_of(log.bytes()), "Data corruption: record sequence 3011: duplicate Posit proposition");
}

TEST(Replay, BuiltInRolesAndCodecsAreRequiredOnceAnythingWasApplied) {
  {
    LogBuilder log;
    std::vector<PendingRecord> records = genesis_records();
    records[2] = role_record(7, "thing", true);
    log.batch(records);
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: built-in Role 'thing' must be reserved identity 3");
  }
  {
    LogBuilder log;
    std::vector<PendingRecord> records = genesis_records();
    records[0] = role_record(1, "posit", false);
    log.batch(records);
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: built-in Role 'posit' must be reserved identity 1");
  }
  {
    LogBuilder log;
    log.batch({encode_codec_payload(0), encode_codec_payload(1), encode_codec_payload(2)});
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: built-in Role 'posit' must be reserved identity 1");
  }
  {
    LogBuilder log;
    std::vector<PendingRecord> records = genesis_records();
    records.pop_back();
    log.batch(records);
    EXPECT_EQ(error_of(log.bytes()), "Data corruption: store lacks one or more mandatory v1 codecs");
  }
}

TEST(Replay, ACorruptRecordSurfacesAtItsCommitUnlessTheBatchIsCut) {
  LogBuilder log;
  log.batch(genesis_records());
  const uint64_t before = log.bytes().size();
  log.record(role_record(0, "bad"));
  const uint64_t after_record = log.bytes().size();
  log.commit();
  EXPECT_EQ(error_of(log.bytes()), "Data corruption: Role identity 0 is reserved for genesis");
  EXPECT_EQ(error_of(log.bytes(), after_record),
            at(after_record, 10, "manifest committed length ends outside a Commit frame"));
  EXPECT_EQ(error_of(log.bytes(), before), "ok");
}


// The windowed pass (delimited in order, checked and decoded on threads, applied in order) against
// the one sequential pass: the same outcome, to the message, for every damaged payload byte of every
// frame (checksums made to match, so that the record checks are reached), every third frame byte
// and every other committed length. Windows of 64 bytes (smaller than most frames) and of 300 bytes.
class WindowedLog {
 public:
  // With `late_codecs`, the integer and certainty codecs are declared only in the third batch:
  // Posits of the second that use one fail at their codec, before any later field.
  explicit WindowedLog(bool late_codecs) {
    testing::PositFactory posits;
    auto genesis = genesis_records();
    const size_t early = late_codecs ? genesis.size() - 2 : genesis.size();
    std::vector<PendingRecord> first(genesis.begin(), genesis.begin() + early);
    first.push_back(role_record(6, "r6"));
    first.push_back(role_record(7, "r7"));
    add(first);
    add({posits.make(20, {{6, 100}}, "\"a\""), posits.make(21, {{6, 101}, {7, 102}}, "12", literal::LiteralKind::Integer,
                                                            literal::TimeValue::of_year(2001))});
    std::vector<PendingRecord> third(genesis.begin() + early, genesis.end());
    third.push_back(posits.make(22, {{7, 103}}, "-5", literal::LiteralKind::Integer));
    add(third);
    for (Identity id = 23; id < 35; ++id) {
      add({posits.make(id, {{6, id * 10}, {7, id * 10 + 1}}, std::to_string(id), literal::LiteralKind::Integer,
                       literal::TimeValue::of_date(2000 + int32_t(id), 1 + id % 12, 1)),
           posits.make(id + 100, {{6, id}}, "\"t" + std::to_string(id) + "\"", literal::LiteralKind::String,
                       literal::TimeValue::of_year(1990)),
           posits.make(id + 200, {{3, id}}, std::to_string(id % 100) + "%", literal::LiteralKind::Certainty)});
    }
  }

  struct Frame {
    B payload;
    uint8_t type;
  };
  std::vector<Frame> frames;

  // The log image, with payload byte `at` of frame `f` xor-ed with `flip` when given.
  B image(size_t f = SIZE_MAX, size_t at = 0, uint8_t flip = 0) const {
    auto header = encode_log_header(Uuid{});
    B out(header.begin(), header.end());
    for (size_t i = 0; i < frames.size(); ++i) {
      B payload = frames[i].payload;
      if (i == f) payload[at] ^= flip;
      ByteWriter w;
      EXPECT_TRUE(encode_log_frame(payload, i + 1, 0, frames[i].type, 1, w));
      out.insert(out.end(), w.bytes().begin(), w.bytes().end());
    }
    return out;
  }

 private:
  void add(const std::vector<PendingRecord>& records) {
    const uint64_t first = frames.size() + 1;
    for (const auto& r : records) frames.push_back({r.payload, r.type});
    frames.push_back({encode_commit_payload({batch_++, first, first + records.size() - 1, records.size()}), 255});
  }
  uint64_t batch_ = 1;
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

std::string outcome(const B& log, uint64_t committed, const ReplayTuning& tuning, RecordingSink* sink = nullptr,
                    std::shared_ptr<Fs> fs = std::make_shared<testing::MemFs>()) {
  Fd fd = *fs->open_at(kCurrentDir, "log", OpenMode::CreateNew);
  EXPECT_TRUE(write_all(*fs, fd, 0, log));
  auto r = replay(*fs, fd, committed, tuning, sink);
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

TEST(Replay, WindowsReportWhatOnePassReports) {
  const ReplayTuning one_pass{.parallel_from = UINT64_MAX};
  const ReplayTuning windows[] = {{.parallel_from = 0, .window = 64, .threads = 3},
                                  {.parallel_from = 0, .window = 300, .threads = 2}};
  for (bool late_codecs : {false, true}) {
    const WindowedLog log(late_codecs);
    size_t cases = 0, failures = 0;
    auto check = [&](const B& image, uint64_t committed, size_t variant) {
      const std::string expected = outcome(image, committed, one_pass);
      EXPECT_EQ(outcome(image, committed, windows[variant % 2]), expected) << "case " << cases;
      ++cases;
      failures += expected.starts_with("Data corruption");
    };
    const B whole = log.image();
    check(whole, whole.size(), 0);
    EXPECT_EQ(failures, late_codecs ? 1u : 0u);
    // The late codecs matter to the first batches only.
    for (size_t f = 0; f < (late_codecs ? 16 : log.frames.size()); ++f) {
      for (size_t at = 0; at < log.frames[f].payload.size(); ++at) check(log.image(f, at, 0x01), whole.size(), at);
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
  const WindowedLog log(false);
  const B whole = log.image();
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
