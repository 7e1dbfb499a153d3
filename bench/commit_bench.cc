// One-posit durable commit beside the device's own flush time, on one file system in one run.
//
// Kinds of commit, each in a directory of its own:
//   bare_serial          the store's calls as bare system calls, one after another: append a frame
//                        to the log and fsync it; create "manifest.next", write 95 bytes, fsync it;
//                        rename it over "manifest.bmf"; fsync the directory (three flushes back to
//                        back);
//   bare_thread_each     the same with the log's fsync on a thread created for the commit while
//                        "manifest.next" is written and flushed (the store's first overlap);
//   bare_overlapped      the log's fsync on a thread that lives for the run, and the replaced
//                        manifest kept open until the commit is done, then closed on that thread (so
//                        that the rename does not free it), as the store does now;
//   bare_datasync        bare_overlapped with fdatasync for the log and "manifest.next";
//   store                Store::append_batch of one encoded Posit record;
//   engine               Engine::add_posits of one Posit on a new Thing (identity, interning,
//                        encoding, the store's commit, filing).
// Every kind is taken in turn, in an order that rotates, so that the drift of a shared machine falls
// on all alike: one commit at a time (argument 1), or blocks of 20 (argument 20), where the work a
// commit leaves to its thread meets its own next commit rather than another kind's. Counters: the
// median microseconds of each kind, and engine / bare_serial (the ratio the goal is set in).
// TMPDIR picks the file system.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "construct/engine.h"
#include "storage/bytes.h"
#include "storage/store.h"

namespace {

using namespace brackwater;

std::string temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bw-commit-XXXXXX").string();
  return ::mkdtemp(pattern.data());
}

// Aborts on a failed system call (-1).
void check(int result, const char* what) {
  if (result != 0) {
    std::perror(what);
    std::abort();
  }
}

// A thread that runs the jobs it is handed in order, for the whole run.
class Worker {
 public:
  Worker() : thread_([this] { run(); }) {}
  ~Worker() {
    {
      std::lock_guard guard(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void post(std::function<void()> job) {
    {
      std::lock_guard guard(mutex_);
      jobs_.push_back(std::move(job));
      ++pending_;
    }
    wake_.notify_all();
  }
  // Waits until every job posted so far has run.
  void drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return pending_ == 0; });
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      auto job = std::move(jobs_.front());
      jobs_.pop_front();
      lock.unlock();
      job();
      lock.lock();
      if (--pending_ == 0) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  std::deque<std::function<void()>> jobs_;
  size_t pending_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

enum class BareMode {
  Serial,       // the three flushes back to back
  ThreadEach,   // the log's flush on a thread created for the commit (the store's first overlap)
  Worker,       // the log's flush on a long-lived thread; the replaced manifest freed after the commit
  WorkerData,   // the same with fdatasync for the log and "manifest.next"
};

// A store directory driven by bare system calls: the same files, sizes and flushes as the store.
class BareStore {
 public:
  BareStore(const std::string& path, BareMode mode) : mode_(mode) {
    check(::mkdir(path.c_str(), 0777), "mkdir");
    dir_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    check(dir_ < 0 ? -1 : 0, "open dir");
    log_ = ::openat(dir_, "log-0000000000000001.btl", O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    check(log_ < 0 ? -1 : 0, "open log");
    std::memset(frame_, 0x5a, sizeof frame_);
    std::memset(manifest_, 0x4d, sizeof manifest_);
    check(::pwrite(log_, frame_, 64, 0) == 64 ? 0 : -1, "write header");
    length_ = 64;
    commit();
  }
  ~BareStore() {
    worker_.drain();
    if (held_ >= 0) ::close(held_);
    ::close(log_);
    ::close(dir_);
  }

  void commit() {
    const bool data_only = mode_ == BareMode::WorkerData;
    auto flush = [data_only](int fd) { return data_only ? ::fdatasync(fd) : ::fsync(fd); };
    check(::pwrite(log_, frame_, sizeof frame_, length_) == ssize_t(sizeof frame_) ? 0 : -1, "append");
    length_ += sizeof frame_;
    pthread_t thread{};
    int log_result = 0;
    if (mode_ == BareMode::Serial) check(::fsync(log_), "fsync log");
    if (mode_ == BareMode::ThreadEach) check(::pthread_create(&thread, nullptr, &sync_log, this), "pthread_create");
    std::atomic<bool> log_done = false;
    if (mode_ == BareMode::Worker || mode_ == BareMode::WorkerData) {
      worker_.post([&] {
        log_result = flush(log_);
        log_done = true;
        log_done.notify_one();
      });
    }
    const int next = ::openat(dir_, "manifest.next", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    check(next < 0 ? -1 : 0, "open manifest.next");
    check(::pwrite(next, manifest_, sizeof manifest_, 0) == ssize_t(sizeof manifest_) ? 0 : -1, "write manifest.next");
    check(flush(next), "flush manifest.next");
    if (mode_ == BareMode::ThreadEach) check(::pthread_join(thread, nullptr) == 0 ? thread_result_ : -1, "fsync log");
    if (mode_ == BareMode::Worker || mode_ == BareMode::WorkerData) {
      log_done.wait(false);
      check(log_result, "flush log");
    }
    check(::renameat(dir_, "manifest.next", dir_, "manifest.bmf"), "rename");
    check(::fsync(dir_), "fsync dir");
    if (mode_ == BareMode::Worker || mode_ == BareMode::WorkerData) {
      if (const int old = std::exchange(held_, next); old >= 0) worker_.post([old] { ::close(old); });
    } else {
      ::close(next);
    }
  }

 private:
  static void* sync_log(void* self) {
    auto* bare = static_cast<BareStore*>(self);
    bare->thread_result_ = ::fsync(bare->log_);
    return nullptr;
  }

  BareMode mode_;
  int dir_ = -1, log_ = -1, held_ = -1;
  off_t length_ = 0;
  int thread_result_ = 0;
  uint8_t frame_[106];  // a one-posit batch: the Posit's frame and the commit frame
  uint8_t manifest_[95];
  Worker worker_;
};

// One new Posit per call through the engine, on a new Thing of one Role.
struct EngineFeed {
  std::shared_ptr<construct::Engine> engine;
  construct::RoleRef role = nullptr;
  uint64_t next_value = 0;

  explicit EngineFeed(const std::string& path) {
    engine = construct::Engine::open(path).value();
    role = engine->add_roles({{"name", false}}).value().at(0).role;
  }
  void commit() {
    auto thing = engine->draw_identity().value();
    auto a = engine->intern_appearance(role, thing).value().first;
    auto set = engine->intern_appearance_set({a}).value().first;
    literal::Literal value{std::to_string(next_value++), literal::LiteralKind::Integer};
    std::vector<construct::PendingPosit> one;
    one.push_back(construct::PendingPosit{std::move(value), set, literal::TimeValue::of_year(2020)});
    check(engine->add_posits(std::move(one), {}) ? 0 : -1, "add_posits");
  }
};

// One encoded Posit record per call through the store alone.
struct StoreFeed {
  std::unique_ptr<storage::Store> store;
  std::vector<uint8_t> payload = std::vector<uint8_t>(39, 0x21);  // as long as the engine's record
  uint64_t end = 39;

  explicit StoreFeed(const std::string& path) {
    auto opened = storage::Store::open(path);
    check(opened ? 0 : -1, "Store::open");
    store = std::move(opened->first);
  }
  void commit() {
    check(store->append_batch(storage::RecordType::Posit, payload, std::span(&end, 1)) ? 0 : -1, "append_batch");
  }
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

using Variants = std::vector<std::pair<const char*, std::function<void()>>>;

// Per benchmark iteration, runs each variant `block` times in a row, the variants in an order that
// rotates from one iteration to the next; reports the median microseconds of each as a counter and
// returns them.
std::vector<double> run_variants(benchmark::State& state, const Variants& variants, int block) {
  std::vector<std::vector<double>> micros(variants.size());
  size_t round = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < variants.size(); ++k) {
      const size_t i = (k + round) % variants.size();
      for (int b = 0; b < block; ++b) {
        const auto t0 = std::chrono::steady_clock::now();
        variants[i].second();
        micros[i].push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
      }
    }
    ++round;
  }
  std::vector<double> medians;
  for (size_t i = 0; i < variants.size(); ++i) {
    medians.push_back(median(micros[i]));
    state.counters[variants[i].first] = medians.back();
  }
  return medians;
}

// Every kind of commit in turn, blocks of range(0) commits of a kind at a time.
void BM_OnePositCommit(benchmark::State& state) {
  const std::string root = temp_dir();
  {
    BareStore serial(root + "/serial", BareMode::Serial), thread_each(root + "/thread", BareMode::ThreadEach),
        worker(root + "/worker", BareMode::Worker), worker_data(root + "/datasync", BareMode::WorkerData);
    StoreFeed store(root + "/store");
    EngineFeed engine(root + "/engine");
    const auto medians = run_variants(state,
                                      {{"bare_serial_us", [&] { serial.commit(); }},
                                       {"bare_thread_each_us", [&] { thread_each.commit(); }},
                                       {"bare_overlapped_us", [&] { worker.commit(); }},
                                       {"bare_datasync_us", [&] { worker_data.commit(); }},
                                       {"store_us", [&] { store.commit(); }},
                                       {"engine_us", [&] { engine.commit(); }}},
                                      static_cast<int>(state.range(0)));
    state.counters["overlapped_per_serial"] = medians[2] / medians[0];
    state.counters["engine_per_serial"] = medians[5] / medians[0];
  }
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_OnePositCommit)->Arg(1)->Iterations(600)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OnePositCommit)->Arg(20)->Iterations(30)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
