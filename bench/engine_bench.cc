// Engine benchmarks: add_posits throughput (memory and store), resident memory per Posit, and the
// time and peak memory of opening (replaying) a store.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "construct/engine.h"

namespace {

using namespace brackwater;
using construct::Engine;
using construct::PendingPosit;
using literal::LiteralKind;
using literal::TimeValue;

// Resident and peak resident memory of this process in bytes (from /proc/self/status).
uint64_t status_kb(const char* key) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  uint64_t kb = 0;
  const size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, key, n) == 0) {
      for (const char* p = line + n; *p; ++p) {
        if (*p >= '0' && *p <= '9') kb = kb * 10 + uint64_t(*p - '0');
      }
      break;
    }
  }
  std::fclose(f);
  return kb * 1024;
}

std::string temp_dir(const char* tag) {
  std::string dir = std::filesystem::temp_directory_path() / ("bw-bench-" + std::string(tag) + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  return dir;
}

struct Feeder {
  std::shared_ptr<Engine> engine;
  construct::RoleRef role = nullptr;
  construct::AppearanceSetRef shared_set = nullptr;
  uint64_t next_value = 0;

  explicit Feeder(std::optional<std::string> path) {
    engine = Engine::open(std::move(path)).value();
    role = engine->add_roles({{"measure", false}}).value().at(0).role;
    auto thing = engine->draw_identity().value();
    auto a = engine->intern_appearance(role, thing).value().first;
    shared_set = engine->intern_appearance_set({a}).value().first;
  }

  // One command of `n` distinct Posits; each on a new Thing when `distinct_things`.
  void add(size_t n, bool distinct_things) {
    std::vector<PendingPosit> pending;
    pending.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      construct::AppearanceSetRef set = shared_set;
      if (distinct_things) {
        auto thing = engine->draw_identity().value();
        auto a = engine->intern_appearance(role, thing).value().first;
        set = engine->intern_appearance_set({a}).value().first;
      }
      pending.push_back(PendingPosit{{std::to_string(next_value++), LiteralKind::Integer}, set, TimeValue::of_year(2024)});
    }
    auto added = engine->add_posits(std::move(pending), {});
    if (!added) std::abort();
  }
};

void BM_AddPositsMemory(benchmark::State& state) {
  Feeder feeder(std::nullopt);
  const size_t n = size_t(state.range(0));
  for (auto _ : state) feeder.add(n, true);
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_AddPositsMemory)->Arg(1)->Arg(100)->Arg(100000)->Unit(benchmark::kMicrosecond);

void BM_AddPositsStore(benchmark::State& state) {
  const std::string dir = temp_dir("add");
  {
    Feeder feeder(dir);
    const size_t n = size_t(state.range(0));
    for (auto _ : state) feeder.add(n, true);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_AddPositsStore)->Arg(1)->Arg(100)->Arg(100000)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Runs this program again with `args` and reads `n` doubles from its standard output.
template <size_t n>
bool run_child(std::initializer_list<const char*> args, double (&out)[n]) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    std::vector<const char*> argv{"engine_bench"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(nullptr);
    execv("/proc/self/exe", const_cast<char* const*>(argv.data()));
    _exit(127);
  }
  close(fds[1]);
  const bool got = read(fds[0], out, sizeof out) == sizeof out;
  close(fds[0]);
  waitpid(child, nullptr, 0);
  return got;
}

// Resident bytes per single-appearance Posit at 1,000,000 Posits (value texts fit in the string),
// measured in a fresh process (this program run with "--memory-child 0|1") so that memory freed by
// earlier benchmarks does not hide any.
void BM_MemoryPerPosit(benchmark::State& state) {
  const char* distinct = state.range(0) != 0 ? "1" : "0";
  for (auto _ : state) {
    double in[2] = {0, 0};
    if (!run_child({"--memory-child", distinct}, in)) std::abort();
    state.SetIterationTime(in[0]);
    state.counters["bytes_per_posit"] = in[1];
  }
}
BENCHMARK(BM_MemoryPerPosit)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int memory_child(bool distinct_things) {
  const size_t total = 1000000;
  const auto start = std::chrono::steady_clock::now();
  const uint64_t before = status_kb("VmRSS:");
  Feeder feeder(std::nullopt);
  for (size_t done = 0; done < total; done += 10000) feeder.add(10000, distinct_things);
  const uint64_t after = status_kb("VmRSS:");
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double out[2] = {seconds, double(after - before) / double(total)};
  return write(1, out, sizeof out) == sizeof out ? 0 : 1;
}

// One command of n equal Posits: one new Posit, the others found in the command's own list.
void BM_AddEqualPositsInOneCommand(benchmark::State& state) {
  Feeder feeder(std::nullopt);
  const size_t n = size_t(state.range(0));
  for (auto _ : state) {
    std::vector<PendingPosit> pending(n, PendingPosit{{std::to_string(feeder.next_value), LiteralKind::Integer},
                                                      feeder.shared_set, TimeValue::of_year(2024)});
    ++feeder.next_value;
    if (!feeder.engine->add_posits(std::move(pending), {})) std::abort();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_AddEqualPositsInOneCommand)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The same command again and again: every Posit exists, nothing is appended.
void BM_AddExistingPosits(benchmark::State& state) {
  Feeder feeder(std::nullopt);
  const size_t n = size_t(state.range(0));
  std::vector<PendingPosit> pending;
  for (size_t i = 0; i < n; ++i) {
    pending.push_back({{std::to_string(i), LiteralKind::Integer}, feeder.shared_set, TimeValue::of_year(2024)});
  }
  if (!feeder.engine->add_posits(pending, {})) std::abort();
  for (auto _ : state) {
    if (!feeder.engine->add_posits(pending, {})) std::abort();
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_AddExistingPosits)->Arg(100000)->Unit(benchmark::kMicrosecond);

// Opening a store of n Posits, in a fresh process (this program run with "--open-child DIR") so that
// the peak resident memory is the open's own.
void BM_OpenReplay(benchmark::State& state) {
  const size_t n = size_t(state.range(0));
  const std::string dir = temp_dir("open");
  {
    Feeder feeder(dir);
    for (size_t done = 0; done < n; done += 10000) feeder.add(std::min<size_t>(10000, n - done), true);
  }
  for (auto _ : state) {
    double in[3] = {0, 0, 0};
    if (!run_child({"--open-child", dir.c_str()}, in)) std::abort();
    state.SetIterationTime(in[0]);
    state.counters["open_seconds"] = in[0];
    state.counters["peak_rss_MiB"] = in[1] / (1024.0 * 1024.0);
    state.counters["rss_after_MiB"] = in[2] / (1024.0 * 1024.0);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_OpenReplay)->Arg(100000)->Arg(1000000)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

int open_child(const char* dir) {
  const auto start = std::chrono::steady_clock::now();
  auto engine = Engine::open(std::string(dir));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  double out[3] = {engine ? seconds : -1.0, double(status_kb("VmHWM:")), double(status_kb("VmRSS:"))};
  return write(1, out, sizeof out) == sizeof out ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--open-child") == 0) return open_child(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "--memory-child") == 0) return memory_child(argv[2][0] == '1');
  if (argc == 4 && std::strcmp(argv[1], "--build-store") == 0) {  // for profiling the open by hand
    Feeder feeder{std::string(argv[2])};
    const size_t n = std::strtoull(argv[3], nullptr, 10);
    for (size_t done = 0; done < n; done += 10000) feeder.add(std::min<size_t>(10000, n - done), true);
    return 0;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
