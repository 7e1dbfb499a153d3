// Store benchmarks: CRC-32C throughput, frame decoding, ULEB128, committed-append latency with its
// flush count, bulk ingest, reopen (replay) time and a 16 MiB value round trip.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <random>

#include "construct/records.h"
#include "storage/bytes.h"
#include "storage/crc32c.h"
#include "storage/fs.h"
#include "storage/interpose_fs_test_util.h"
#include "storage/log_frame.h"
#include "storage/store.h"

namespace bw = brackwater;
using namespace brackwater::storage;

namespace {

std::string temp_dir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bw-bench-XXXXXX").string();
  return ::mkdtemp(pattern.data());
}

struct Cleanup {
  std::string path;
  ~Cleanup() { std::filesystem::remove_all(path); }
};

std::vector<PendingRecord> genesis() {
  std::vector<PendingRecord> out;
  const char* names[] = {"posit", "ascertains", "thing", "class", "subclass"};
  for (Identity id = 1; id <= 5; ++id) out.push_back(encode_role_payload(bw::construct::Role{names[id - 1], id, true}));
  for (uint16_t c = 0; c < 3; ++c) out.push_back(encode_codec_payload(c));
  return out;
}

// Posits over the built-in Role "thing" (3), with 1 to 4 members, identities from `first_id`.
class PositMaker {
 public:
  PositMaker() {
    for (Identity r = 1; r <= 5; ++r) roles_.push_back(bw::construct::Role{"r", r, true});
  }
  PendingRecord make(Identity id, size_t value_size = 8) {
    std::vector<bw::construct::Appearance> members;
    const size_t k = 1 + id % 4;
    bw::construct::AppearanceSet set;
    for (size_t i = 0; i < k; ++i) {
      appearances_.push_back(bw::construct::Appearance{&roles_[i], 1'000'000'000 + id});
      set.members.push_back(&appearances_.back());
    }
    std::string text = "\"" + std::string(value_size, 'v') + std::to_string(id) + "\"";
    auto r = encode_posit_payload(id, set, bw::literal::Literal{text, bw::literal::LiteralKind::String},
                                  bw::literal::TimeValue::of_year(2000 + static_cast<int32_t>(id % 50)));
    appearances_.clear();
    return std::move(*r);
  }

 private:
  std::deque<bw::construct::Role> roles_;
  std::deque<bw::construct::Appearance> appearances_;
};

void BM_Crc32c(benchmark::State& state) {
  std::vector<uint8_t> data(1 << 20);
  std::mt19937_64 rng(1);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const bool hardware = state.range(0) == 1;
  uint32_t crc = 0;
  for (auto _ : state) {
    crc = hardware ? crc32c_extend(crc, data) : crc32c_extend_portable(crc, data);
    benchmark::DoNotOptimize(crc);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
  state.SetLabel(hardware ? (crc32c_hardware_available() ? "hardware" : "hardware unavailable: table") : "table");
}
BENCHMARK(BM_Crc32c)->Arg(1)->Arg(0);

void BM_Uleb128(benchmark::State& state) {
  std::vector<uint64_t> values(4096);
  std::mt19937_64 rng(2);
  for (auto& v : values) v = rng() >> (rng() % 64);
  for (auto _ : state) {
    ByteWriter w;
    for (uint64_t v : values) w.put_uleb128(v);
    Cursor c{Bytes(w.bytes())};
    uint64_t sum = 0;
    while (!c.at_end()) sum += *read_uleb128(c);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(values.size()));
}
BENCHMARK(BM_Uleb128);

// Decodes 1,000,000 small frames from a log file in the page cache.
void BM_FrameDecode(benchmark::State& state) {
  Cleanup dir{temp_dir()};
  auto fs = posix_fs();
  const Fd fd = *fs->open_at(kCurrentDir, dir.path + "/log", OpenMode::CreateNew);
  const size_t frames = 1'000'000;
  ByteWriter w;
  w.put_raw(encode_log_header(Uuid{}));
  std::vector<uint8_t> payload(24, 0x42);
  for (uint64_t s = 1; s <= frames; ++s) (void)encode_log_frame(payload, s, 0, 3, 1, w);
  (void)write_all(*fs, fd, 0, w.bytes());
  for (auto _ : state) {
    FrameReader reader(*fs, fd, w.size());
    std::vector<uint8_t> arena;
    size_t n = 0;
    while (!reader.at_end()) {
      auto f = reader.next(arena);
      if (!f) state.SkipWithError(f.error().message().c_str());
      if ((++n & 1023) == 0) arena.clear();
    }
    benchmark::DoNotOptimize(n);
  }
  fs->close(fd);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(frames));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(w.size()));
}
BENCHMARK(BM_FrameDecode)->Unit(benchmark::kMillisecond);

// One posit per batch: latency percentiles and flushes per batch (the log's overlaps the manifest's).
void BM_AppendLatency(benchmark::State& state) {
  Cleanup dir{temp_dir()};
  auto fs = std::make_shared<testing::InterposeFs>(posix_writer_fs());
  auto opened = Store::open(dir.path + "/db", fs);
  auto& store = opened->first;
  (void)store->append_batch(genesis());
  PositMaker maker;
  std::vector<double> micros;
  Identity id = 100;
  size_t syncs_before = 0, syncs_after = 0, batches = 0;
  for (auto _ : state) {
    std::vector<PendingRecord> batch;
    batch.push_back(maker.make(++id));
    auto is_flush = [](const std::string& t) { return t.starts_with("sync") || t.starts_with("start sync"); };
    syncs_before = std::count_if(fs->trace.begin(), fs->trace.end(), is_flush);
    const auto t0 = std::chrono::steady_clock::now();
    auto r = store->append_batch(std::move(batch));
    const auto t1 = std::chrono::steady_clock::now();
    if (!r) state.SkipWithError(r.error().display().c_str());
    syncs_after = std::count_if(fs->trace.begin(), fs->trace.end(), is_flush);
    fs->trace.clear();
    micros.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    ++batches;
  }
  std::sort(micros.begin(), micros.end());
  state.counters["p50_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
  state.counters["flushes_per_batch"] = double(syncs_after - syncs_before);
}
BENCHMARK(BM_AppendLatency)->Iterations(500)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Bulk ingest: posits per batch as the argument.
void BM_BulkIngest(benchmark::State& state) {
  const size_t per_batch = static_cast<size_t>(state.range(0));
  const size_t total = per_batch == 1 ? 2'000 : 100'000;
  PositMaker maker;
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    Cleanup dir{temp_dir()};
    auto opened = Store::open(dir.path + "/db");
    auto& store = opened->first;
    (void)store->append_batch(genesis());
    const uint64_t start_length = store->committed_length();
    state.ResumeTiming();
    Identity id = 100;
    for (size_t done = 0; done < total; done += per_batch) {
      std::vector<PendingRecord> batch;
      batch.reserve(per_batch);
      for (size_t i = 0; i < per_batch; ++i) batch.push_back(maker.make(++id));
      auto r = store->append_batch(std::move(batch));
      if (!r) state.SkipWithError(r.error().display().c_str());
    }
    bytes += store->committed_length() - start_length;
    state.PauseTiming();
    store.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(total));
  state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_BulkIngest)->Arg(1)->Arg(100)->Arg(10000)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// Reopen (validate + replay) of a store holding `range(0)` posits of `range(1)`-byte values.
void BM_Reopen(benchmark::State& state) {
  const size_t posits = static_cast<size_t>(state.range(0));
  const size_t value_size = static_cast<size_t>(state.range(1));
  Cleanup dir{temp_dir()};
  const std::string path = dir.path + "/db";
  uint64_t length = 0;
  {
    auto opened = Store::open(path);
    auto& store = opened->first;
    (void)store->append_batch(genesis());
    PositMaker maker;
    Identity id = 100;
    const size_t per_batch = std::max<size_t>(1, std::min<size_t>(10'000, (64u << 20) / (value_size + 64)));
    for (size_t done = 0; done < posits;) {
      std::vector<PendingRecord> batch;
      for (size_t i = 0; i < per_batch && done < posits; ++i, ++done) batch.push_back(maker.make(++id, value_size));
      auto r = store->append_batch(std::move(batch));
      if (!r) state.SkipWithError(r.error().display().c_str());
    }
    length = store->committed_length();
  }
  for (auto _ : state) {
    auto opened = Store::open(path);
    if (!opened) state.SkipWithError(opened.error().display().c_str());
    benchmark::DoNotOptimize(opened->second.posits.size());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(posits));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(length));
}
BENCHMARK(BM_Reopen)
    ->Args({10'000, 8})
    ->Args({100'000, 8})
    ->Args({1'000'000, 8})
    ->Args({10'000, 1024})
    ->Args({100, 1 << 20})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// One 16 MiB-frame value: append, then reopen.
void BM_LargeValueRoundTrip(benchmark::State& state) {
  PositMaker maker;
  for (auto _ : state) {
    Cleanup dir{temp_dir()};
    const std::string path = dir.path + "/db";
    {
      auto opened = Store::open(path);
      (void)opened->first->append_batch(genesis());
      std::vector<PendingRecord> batch;
      batch.push_back(maker.make(100, 16'777'216 - 200));
      auto r = opened->first->append_batch(std::move(batch));
      if (!r) state.SkipWithError(r.error().display().c_str());
    }
    auto reopened = Store::open(path);
    if (!reopened) state.SkipWithError(reopened.error().display().c_str());
  }
}
BENCHMARK(BM_LargeValueRoundTrip)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
