// Every file-system call of opening and appending failed in turn, on the real file system.
#include <errno.h>

#include <gtest/gtest.h>

#include "storage/interpose_fs_test_util.h"
#include "storage/store.h"
#include "storage/store_test_util.h"

namespace brackwater::storage {
namespace {

using testing::FaultKind;
using testing::InterposeFs;
using testing::TempDir;

std::vector<PendingRecord> batch_of(Identity id) { return {testing::role_record(id, "role" + std::to_string(id))}; }

// Opens `path` on the real file system and returns the number of replayed Roles beyond genesis.
int extra_roles_after_reopen(const std::string& path) {
  auto reopened = Store::open(path);
  EXPECT_TRUE(reopened) << reopened.error().display();
  return !reopened ? -1 : reopened->second.roles.empty() ? -100 : static_cast<int>(reopened->second.roles.size()) - 5;
}

const std::string kFailClosed =
    "Persistence error: store writer is fail-closed after an earlier uncertain write; reopen the store";

TEST(StoreFaults, EveryAppendCallFailingInTurn) {
  for (int error : {ENOSPC, EIO, EFBIG}) {
    for (uint64_t k = 0;; ++k) {
      TempDir tmp;
      const std::string path = tmp.sub("db");
      auto fs = std::make_shared<InterposeFs>(posix_fs());
      bool fired = false;
      {
        auto opened = Store::open(path, fs);
        ASSERT_TRUE(opened);
        auto& store = opened->first;
        ASSERT_TRUE(store->append_batch(testing::genesis_records()));
        ASSERT_TRUE(store->append_batch(batch_of(6)));
        fs->renamed = false;
        fs->arm(k, FaultKind::Errno, error);
        auto r = store->append_batch(batch_of(7));
        fired = fs->fault_fired();
        if (!fired) {
          ASSERT_TRUE(r);
          break;
        }
        ASSERT_FALSE(r) << k;
        EXPECT_EQ(r.error().display(), "Persistence error: " + os_error_text(error)) << k;
        EXPECT_TRUE(store->fail_closed()) << k;
        const auto calls = fs->calls();
        EXPECT_EQ(store->append_batch(batch_of(8)).error().display(), kFailClosed);
        EXPECT_EQ(fs->calls(), calls);  // refused without touching the disk
      }
      // The failed batch survives exactly when its manifest rename happened.
      EXPECT_EQ(extra_roles_after_reopen(path), fs->renamed ? 2 : 1) << fs->faulted_call();
    }
  }
}

TEST(StoreFaults, RetriedAndUnretriedInterruptions) {
  for (FaultKind kind : {FaultKind::ShortTransfer, FaultKind::InterruptOnce, FaultKind::ZeroWrite}) {
    for (uint64_t k = 0;; ++k) {
      TempDir tmp;
      const std::string path = tmp.sub("db");
      auto fs = std::make_shared<InterposeFs>(posix_fs());
      auto opened = Store::open(path, fs);
      ASSERT_TRUE(opened);
      auto& store = opened->first;
      ASSERT_TRUE(store->append_batch(testing::genesis_records()));
      fs->arm(k, kind);
      auto r = store->append_batch(batch_of(6));
      if (!fs->fault_fired()) break;
      const std::string call = fs->faulted_call();
      const bool is_write = call.starts_with("write");
      // Short transfers and interrupted writes are retried; a zero-byte write or an interrupted
      // other call fails the batch and closes the writer.
      const bool retried = kind == FaultKind::ShortTransfer || (kind == FaultKind::InterruptOnce) == is_write;
      const std::string expected = retried ? "ok"
                                   : is_write ? "Persistence error: failed to write whole buffer"
                                              : "Persistence error: Interrupted system call (os error 4)";
      EXPECT_EQ(r ? "ok" : r.error().display(), expected) << call;
      EXPECT_EQ(store->fail_closed(), !retried) << call;
      opened->first.reset();
      EXPECT_GE(extra_roles_after_reopen(path), r ? 1 : 0) << call;
    }
  }
}

TEST(StoreFaults, EveryOpenCallFailingInTurn) {
  for (bool existing : {false, true}) {
    for (uint64_t k = 0;; ++k) {
      TempDir tmp;
      const std::string path = tmp.sub("db");
      if (existing) {
        auto opened = Store::open(path);
        ASSERT_TRUE(opened->first->append_batch(testing::genesis_records()));
        ASSERT_TRUE(opened->first->append_batch(batch_of(6)));
      }
      auto fs = std::make_shared<InterposeFs>(posix_fs(), testing::FaultPlan{k, FaultKind::Errno, EIO});
      auto r = Store::open(path, fs);
      if (!fs->fault_fired()) {
        ASSERT_TRUE(r);
        break;
      }
      const std::string call = fs->faulted_call();
      if (r) {
        // Failures that change nothing: the manifest query (no answer means "new store"), the
        // size hint of the manifest read, and mkdir of a directory that exists.
        const bool silent = call == "exists manifest.bmf" || call == "size manifest.bmf" ||
                            (existing && call.starts_with("mkdir"));
        EXPECT_TRUE(silent) << call;
        if (call == "exists manifest.bmf") {
          EXPECT_FALSE(existing);
        }
      } else {
        const std::string text = r.error().display();
        EXPECT_NE(text.find("(os error"), std::string::npos) << call << ": " << text;
        if (call == "exists manifest.bmf" || call.starts_with("stat")) {
          // Treated as new, the existing log refuses to be overwritten; a failed check of the
          // existing directory reports the mkdir answer.
          EXPECT_EQ(text, "Persistence error: File exists (os error 17)") << call;
        } else if (call == "entropy") {
          EXPECT_EQ(text, "Persistence error: failed to generate store UUID: Input/output error (os error 5)");
        } else if (call.starts_with("read log") && r.error().kind() == construct::ErrorKind::DataCorruption) {
          EXPECT_TRUE(existing);  // a frame read
          EXPECT_TRUE(text.ends_with("record sequence unknown: truncated frame: Input/output error (os error 5)"));
        } else {
          EXPECT_EQ(text, "Persistence error: Input/output error (os error 5)") << call;
        }
      }
      // Whatever failed, the store opens afterwards with all its committed batches.
      if (r) r->first.reset();
      r = Store::open(path);
      ASSERT_TRUE(r) << call << ": " << r.error().display();
      EXPECT_EQ(r->second.roles.size(), existing ? 6u : 0u) << call;
    }
  }
}

}  // namespace
}  // namespace brackwater::storage
