// The exact file-system calls of store creation, reopening and one committed batch.
#include <gtest/gtest.h>

#include "storage/interpose_fs_test_util.h"
#include "storage/mem_fs_test_util.h"
#include "storage/store.h"
#include "storage/store_test_util.h"

namespace brackwater::storage {
namespace {

using Trace = std::vector<std::string>;
const std::string kLog = "log-0000000000000001.btl";

TEST(StoreCalls, CreationWritesLogThenManifestThenParentEntries) {
  auto mem = std::make_shared<testing::MemFs>();
  ASSERT_TRUE(mem->make_dir("top"));
  auto fs = std::make_shared<testing::InterposeFs>(mem);
  auto opened = Store::open("top/a/db", fs);
  ASSERT_TRUE(opened) << opened.error().display();
  const Trace expected = {
      "mkdir top/a/db", "mkdir top/a", "mkdir top/a/db",  // mkdir -p: two directories created
      "open top/a/db", "lock store.lock", "exists manifest.bmf", "entropy",
      "open " + kLog, "write " + kLog, "sync " + kLog, "close " + kLog,
      "open manifest.next", "write manifest.next", "sync manifest.next", "rename manifest.next manifest.bmf",
      "sync top/a/db", "close manifest.next",
      "open ..", "sync ..", "close ..", "open ../..", "sync ../..", "close ../..",  // entries of db and a
      "open " + kLog, "read " + kLog, "size " + kLog};
  EXPECT_EQ(fs->trace, expected);
}

TEST(StoreCalls, SingleComponentPathFlushesTheWorkingDirectory) {
  auto fs = std::make_shared<testing::InterposeFs>(std::make_shared<testing::MemFs>());
  auto opened = Store::open("db", fs);
  ASSERT_TRUE(opened);
  EXPECT_NE(std::find(fs->trace.begin(), fs->trace.end(), "sync .."), fs->trace.end());
  opened->first.reset();
  fs->trace.clear();
  // Reopening reads the manifest and the log; nothing is written.
  ASSERT_TRUE(Store::open("db", fs));
  const Trace reopen = {"mkdir db", "stat db", "open db", "lock store.lock", "exists manifest.bmf",
                        "open manifest.bmf", "size manifest.bmf", "read manifest.bmf", "read manifest.bmf",
                        "close manifest.bmf", "open " + kLog, "read " + kLog, "size " + kLog,
                        "close " + kLog, "close store.lock", "close db"};
  EXPECT_EQ(fs->trace, reopen);
}

TEST(StoreCalls, OneBatchFlushesTheLogWhileTheNextManifestIsStaged) {
  auto fs = std::make_shared<testing::InterposeFs>(std::make_shared<testing::MemFs>());
  auto opened = Store::open("db", fs);
  ASSERT_TRUE(opened);
  auto& store = opened->first;
  fs->trace.clear();
  ASSERT_TRUE(store->append_batch(testing::genesis_records()));
  // Three flushes, the first two overlapping; the rename waits for both. The new manifest stays
  // open, so that the next batch's rename only drops its name.
  Trace expected = {"write " + kLog,         "start sync " + kLog, "open manifest.next",
                    "write manifest.next",   "sync manifest.next", "finish sync " + kLog,
                    "rename manifest.next manifest.bmf",           "sync db"};
  EXPECT_EQ(fs->trace, expected);
  fs->trace.clear();
  ASSERT_TRUE(store->append_batch({testing::role_record(6, "a")}));
  // The manifest replaced by this batch is let go once the batch is durable.
  expected.push_back("close later manifest.next");
  EXPECT_EQ(fs->trace, expected);
}

TEST(StoreCalls, RefusedBatchesTouchNothing) {
  auto fs = std::make_shared<testing::InterposeFs>(std::make_shared<testing::MemFs>());
  auto opened = Store::open("db", fs);
  auto& store = opened->first;
  fs->trace.clear();

  std::vector<PendingRecord> bad_type = {testing::role_record(6, "a"), testing::role_record(7, "b")}, bad_flags = bad_type;
  bad_type[1].type = 4;
  bad_flags[0].flags = 1;
  EXPECT_EQ(store->append_batch(bad_type).error().display(), "Internal invariant violated: unsupported pending record type 4");
  EXPECT_EQ(store->append_batch(bad_flags).error().display(), "Internal invariant violated: unsupported record version/flags 1/1");
  // The frame size limit's message is pinned in log_frame_test.
  EXPECT_FALSE(store->append_batch({testing::role_record(6, std::string(16777216, 'x'))}));
  EXPECT_TRUE(fs->trace.empty());
  EXPECT_FALSE(store->fail_closed());
  EXPECT_EQ(store->next_record_seq(), 1u);
  EXPECT_TRUE(store->append_batch(testing::genesis_records()));
}

}  // namespace
}  // namespace brackwater::storage
