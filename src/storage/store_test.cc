#include "storage/store.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "construct/fork_test_util.h"
#include "storage/fs.h"
#include "storage/manifest.h"
#include "storage/store_test_util.h"

namespace brackwater::storage {
namespace {

namespace fsys = std::filesystem;
using construct::testing::in_child;
using testing::TempDir;
using B = std::vector<uint8_t>;

B file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return B(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::string& path, const B& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string open_error(const std::string& path) {
  auto r = Store::open(path);
  return r ? std::string("ok") : r.error().display();
}

// A store path "db" inside a fresh temporary directory.
struct StoreOpen : ::testing::Test {
  TempDir tmp;
  const std::string path = tmp.sub("db");
  const std::string log = path + "/log-0000000000000001.btl";

  // Opens the store and commits the genesis batch; returns the store.
  std::unique_ptr<Store> open_with_genesis() {
    auto opened = Store::open(path);
    EXPECT_TRUE(opened && opened->first->append_batch(testing::genesis_records()));
    return opened ? std::move(opened->first) : nullptr;
  }
};
using StoreAppend = StoreOpen;

TEST_F(StoreOpen, CreatesANewStoreAndItsParents) {
  const std::string nested = tmp.sub("a/b/db");
  auto opened = Store::open(nested);
  ASSERT_TRUE(opened) << opened.error().display();
  Store& store = *opened->first;
  EXPECT_EQ(store.directory(), nested);
  EXPECT_EQ(store.committed_length(), 64u);
  EXPECT_EQ((std::array{store.batch_count(), store.next_record_seq(), store.next_batch_seq()}), (std::array<uint64_t, 3>{0, 1, 1}));
  EXPECT_EQ(fsys::file_size(nested + "/log-0000000000000001.btl"), 64u);
  EXPECT_TRUE(fsys::exists(nested + "/store.lock"));
  auto manifest = decode_manifest(file_bytes(nested + "/manifest.bmf"));
  ASSERT_TRUE(manifest);
  EXPECT_EQ(manifest->committed_length, 64u);
  EXPECT_EQ(manifest->uuid[6] & 0xF0, 0x40);
  EXPECT_EQ(manifest->uuid[8] & 0xC0, 0x80);
}

TEST_F(StoreOpen, AppendsAndReplays) {
  {
    auto opened = Store::open(path);
    ASSERT_TRUE(opened);
    auto& store = opened->first;
    auto records = store->append_batch(testing::genesis_records());
    ASSERT_TRUE(records) << records.error().display();
    ASSERT_EQ(records->size(), 8u);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ((*records)[i].sequence, i + 1);
    EXPECT_EQ((std::array{store->batch_count(), store->next_record_seq(), store->next_batch_seq()}), (std::array<uint64_t, 3>{1, 10, 2}));
    EXPECT_EQ(store->committed_length(), fsys::file_size(log));
    testing::PositFactory posits;
    ASSERT_TRUE(store->append_batch({testing::role_record(6, "name"), posits.make(8, {{6, 7}}, "\"Alice\""),
                                     posits.make(9, {{3, 7}, {6, 8}}, "42", literal::LiteralKind::Integer)}));
    ASSERT_TRUE(store->append_batch({}));  // an empty batch is a Commit alone
  }
  // What the log holds is replay's to pin; the store takes its counters from it.
  auto reopened = Store::open(path);
  ASSERT_TRUE(reopened) << reopened.error().display();
  const Store& store = *reopened->first;
  EXPECT_EQ(reopened->second.roles.size() + reopened->second.posits.size(), 8u);
  // 8 + 1, 3 + 1, then one Commit.
  EXPECT_EQ((std::array{store.batch_count(), store.next_record_seq(), store.next_batch_seq()}), (std::array<uint64_t, 3>{3, 15, 4}));
}

TEST_F(StoreOpen, SecondOpenIsRefusedWhileTheFirstLives) {
  auto first = Store::open(path);
  ASSERT_TRUE(first);
  EXPECT_EQ(open_error(path), "Persistence error: store '" + path + "' is already owned: WouldBlock");
  EXPECT_EQ(open_error(path + "/"), "Persistence error: store '" + path + "/' is already owned: WouldBlock");

  // Another process fails the same way.
  EXPECT_TRUE(in_child([&] { return open_error(path).ends_with("is already owned: WouldBlock"); }));

  first->first.reset();
  EXPECT_EQ(open_error(path), "ok");
}

TEST_F(StoreOpen, CutsTheLogBackToTheCommittedLength) {
  const uint64_t committed = open_with_genesis()->committed_length();
  B bytes = file_bytes(log);
  B garbage(1000, 0xEE);
  bytes.insert(bytes.end(), garbage.begin(), garbage.end());
  write_bytes(log, bytes);
  auto reopened = Store::open(path);
  ASSERT_TRUE(reopened) << reopened.error().display();
  EXPECT_EQ(reopened->second.roles.size(), 5u);
  EXPECT_EQ(fsys::file_size(log), committed);
  // The next append lands exactly at the committed length.
  ASSERT_TRUE(reopened->first->append_batch({testing::role_record(6, "six")}));
  reopened->first.reset();
  auto again = Store::open(path);
  ASSERT_TRUE(again);
  EXPECT_EQ(again->second.roles.size(), 6u);
}

TEST_F(StoreOpen, RefusesInconsistentFiles) {
  open_with_genesis();
  const B good_log = file_bytes(log);
  const B good_manifest = file_bytes(path + "/manifest.bmf");

  // A manifest that commits more than the log holds: nothing is cut.
  write_bytes(log, B(good_log.begin(), good_log.end() - 1));
  EXPECT_EQ(open_error(path), "Data corruption: manifest committed length " + std::to_string(good_log.size()) +
                                  " is invalid for log length " + std::to_string(good_log.size() - 1));
  EXPECT_EQ(fsys::file_size(log), good_log.size() - 1);
  write_bytes(log, good_log);

  // A log from another store.
  B foreign = good_log;
  foreign[20] ^= 1;
  write_bytes(log, foreign);
  EXPECT_EQ(open_error(path), "Data corruption: invalid log header metadata");
  write_bytes(log, good_log);

  // Without its manifest, a store with committed data is not silently replaced.
  fsys::remove(path + "/manifest.bmf");
  EXPECT_EQ(open_error(path), "Persistence error: File exists (os error 17)");
  EXPECT_EQ(file_bytes(log), good_log);
  write_bytes(path + "/manifest.bmf", good_manifest);
  EXPECT_EQ(open_error(path), "ok");
}

TEST_F(StoreOpen, RecreatesAStoreWhoseCreationStoppedBeforeItsManifest) {
  for (size_t length : {0, 30, 64}) {
    fsys::remove_all(path);
    fsys::create_directories(path);
    write_bytes(path + "/log-0000000000000001.btl", B(length, 0x11));
    auto opened = Store::open(path);
    ASSERT_TRUE(opened) << length << ": " << opened.error().display();
    EXPECT_EQ(opened->first->committed_length(), 64u);
    ASSERT_TRUE(opened->first->append_batch(testing::genesis_records()));
    opened->first.reset();
    auto reopened = Store::open(path);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->second.roles.size(), 5u);
  }
}

TEST_F(StoreOpen, RefusesUnusablePaths) {
  EXPECT_EQ(open_error(tmp.sub("a") + std::string(1, '\0') + "b"),
            "Persistence error: file name contained an unexpected NUL byte");
  write_bytes(tmp.sub("file"), B{1});
  EXPECT_EQ(open_error(tmp.sub("file")), "Persistence error: File exists (os error 17)");
  EXPECT_EQ(open_error(tmp.sub("file/db")), "Persistence error: Not a directory (os error 20)");
}

TEST_F(StoreOpen, EveryDescriptorIsCloseOnExec) {
  auto opened = Store::open(path);
  ASSERT_TRUE(opened);
  int seen = 0;
  for (const auto& entry : fsys::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const auto target = fsys::read_symlink(entry.path(), ec);
    if (ec || !target.string().starts_with(tmp.path())) continue;
    const int fd = std::stoi(entry.path().filename().string());
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << target;
    ++seen;
  }
  EXPECT_EQ(seen, 3);  // the directory, the lock file and the log
}

TEST_F(StoreAppend, AForkedChildCannotWriteThroughItsParentsStore) {
  auto store = open_with_genesis();
  EXPECT_TRUE(in_child([&] {
    auto r = store->append_batch({testing::role_record(6, "child")});
    return !r && r.error().display() ==
                     "Persistence error: store belongs to the process that opened it; a forked process cannot write to it";
  }));
  EXPECT_TRUE(store->append_batch({testing::role_record(6, "parent")}));
}

TEST_F(StoreAppend, AForkedChildClosesItsParentsStoreWithoutItsWriterThread) {
  auto store = open_with_genesis();  // the writer's thread has run the genesis flush
  EXPECT_TRUE(in_child([&] {
    store.reset();  // neither joins nor signals a thread that is not in this process
    return true;
  }));
  EXPECT_TRUE(store->append_batch({testing::role_record(6, "parent")}));
}

TEST_F(StoreAppend, AForkedChildCommitsToAStoreOfItsOwn) {
  auto store = open_with_genesis();
  ASSERT_TRUE(store->append_batch({testing::role_record(6, "parent")}));  // a manifest closed on the thread
  const std::string own = tmp.sub("child");
  EXPECT_TRUE(in_child([&] {
    {
      auto opened = Store::open(own);
      if (!opened || !opened->first->append_batch(testing::genesis_records())) return false;
      for (Identity id = 6; id < 9; ++id) {
        if (!opened->first->append_batch({testing::role_record(id, "child" + std::to_string(id))})) return false;
      }
    }
    auto reopened = Store::open(own);
    return reopened && reopened->first->batch_count() == 4;
  }));
  EXPECT_TRUE(store->append_batch({testing::role_record(7, "parent7")}));
  EXPECT_EQ(store->batch_count(), 3u);
}

// The writer's thread: its flush results reach the caller, and closes run in order with flushes.
TEST(WriterFs, FlushesAndClosesRunInOrderOnItsThread) {
  auto fs = posix_writer_fs();
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  fs->close_later(ends[1]);
  auto flush = fs->start_sync(ends[0]);  // a pipe cannot be flushed
  ASSERT_TRUE(flush);
  EXPECT_EQ((*flush)->wait(), SysResult<void>(std::unexpected(EINVAL)));
  EXPECT_EQ(fcntl(ends[1], F_GETFD), -1);  // closed before the flush ran
  auto unwaited = fs->start_sync(ends[0]);
  ASSERT_TRUE(unwaited);
  unwaited->reset();  // waits for the flush it stands for
  fs->close_later(ends[0]);
  fs.reset();  // runs what is queued, then joins
  EXPECT_EQ(fcntl(ends[0], F_GETFD), -1);
}

TEST_F(StoreAppend, AForkedChildDoesNotKeepTheStoreLocked) {
  auto store = open_with_genesis();
  int ready[2], gate[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(gate), 0);
  pid_t child = fork();
  if (child == 0) {
    close(gate[1]);
    char byte = 1;
    if (write(ready[1], &byte, 1) != 1) _exit(1);  // the fork has been handled
    _exit(read(gate[0], &byte, 1) >= 0 ? 0 : 1);   // lives until the parent is done
  }
  close(gate[0]);
  close(ready[1]);
  char byte;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  store.reset();
  EXPECT_EQ(open_error(path), "ok");  // while the child still lives
  close(gate[1]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace brackwater::storage
