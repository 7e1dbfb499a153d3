// Ingest and memory of large `add posit` scripts, end to end through execute_script.
//
// Two shapes of N posits:
//   simple: posit i has one new Thing in the Role "name", the integer value i, time '2020-01-01';
//   mixed:  500 cities, then per person a name posit (a new Thing in "person", a string value) and a
//           posit of the person and one of the cities (an integer value), each at a date of birth.
// Run without arguments (or with Google Benchmark flags) for the ingest rates. Other modes print
// figures for bench/sqlite_compare.py:
//   ingest_bench memory SHAPE N [DIR]   the script in memory (or on a new store in DIR): resident and
//                                       peak bytes per posit and the breakdown by structure;
//   ingest_bench reopen DIR N           opening that store: its time, resident and peak bytes per posit.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "construct/engine.h"
#include "construct/engine_state.h"
#include "construct/memory_usage.h"
#include "velquin/execute.h"
#include "script_engine.h"

namespace {

using namespace brackwater;
using construct::Engine;

using bench::open_engine;
using bench::run_or_abort;

const char* setup_script(std::string_view shape) { return shape == "simple" ? "add role name;" : "add role person, city;"; }

std::string script_of(std::string_view shape, int64_t n) {
  std::string s = "add posit ";
  if (shape == "simple") {
    for (int64_t i = 0; i < n; ++i) s += "[{(+t" + std::to_string(i) + ", name)}, " + std::to_string(i) + ", '2020-01-01'], ";
  } else {
    int64_t count = 0;
    for (int64_t c = 0; c < 500 && count < n; ++c, ++count) {
      s += "[{(+c" + std::to_string(c) + ", city)}, \"City " + std::to_string(c) + "\", '2020-01-01'], ";
    }
    for (int64_t i = 0; count < n; ++i) {
      char date[16];
      std::snprintf(date, sizeof date, "%04d-%02d-%02d", int(1950 + i % 60), int(1 + i % 12), int(1 + i % 28));
      const std::string p = std::to_string(i);
      s += "[{(+p" + p + ", person)}, \"Person number " + p + "\", '" + date + "'], ";
      if (++count < n) {
        s += "[{(p" + p + ", person), (c" + std::to_string(i % 500) + ", city)}, " + std::to_string(i * 7919 % 100000) +
             ", '" + date + "'], ";
        ++count;
      }
    }
  }
  s.resize(s.size() - 2);
  s += ";";
  return s;
}

// VmRSS or VmHWM of this process, in bytes.
uint64_t status_bytes(const char* key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(key, 0) == 0) return std::strtoull(line.c_str() + std::strlen(key) + 1, nullptr, 10) * 1024;
  }
  return 0;
}

void reset_peak() { std::ofstream("/proc/self/clear_refs") << "5"; }

void print_memory(const char* what, int64_t n, uint64_t base, uint64_t resident, uint64_t peak) {
  const double kept = double(resident - base);
  std::printf("%s resident %.1f B/posit, peak %.1f B/posit (%.2fx resident)\n", what, kept / n, double(peak - base) / n,
              double(peak - base) / kept);
}

void print_breakdown(construct::Engine& engine, int64_t n, uint64_t kept) {
  auto usage = construct::memory_usage(engine.state());
  if (!usage) std::abort();
  const auto line = [n](const char* name, double bytes) { std::printf("  %-16s %7.1f B/posit\n", name, bytes / n); };
  line("records", usage->records);
  line("value texts", usage->value_texts);
  line("postings", usage->postings);
  line("tables", usage->tables);
  line("identity pool", usage->identities);
  line("allocator slack", double(kept) - double(usage->total()));
}

int memory_mode(std::string_view shape, int64_t n, std::optional<std::string> dir) {
  auto engine = open_engine(dir);
  run_or_abort(engine, setup_script(shape));
  const std::string script = script_of(shape, n);
  const uint64_t base = status_bytes("VmRSS:");
  reset_peak();
  run_or_abort(engine, script);
  const uint64_t resident = status_bytes("VmRSS:");
  print_memory(dir ? "store" : "memory", n, base, resident, status_bytes("VmHWM:"));
  print_breakdown(*engine, n, resident - base);
  return 0;
}

int reopen_mode(const std::string& dir, int64_t n) {
  const uint64_t base = status_bytes("VmRSS:");
  reset_peak();
  const auto start = std::chrono::steady_clock::now();
  auto engine = open_engine(dir);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const uint64_t resident = status_bytes("VmRSS:");
  std::printf("opened in %.1f ms: %.2fM posits/s\n", ms, double(n) / ms / 1000);
  print_memory("reopened", n, base, resident, status_bytes("VmHWM:"));
  print_breakdown(*engine, n, resident - base);
  return 0;
}

void ingest(benchmark::State& state, std::string_view shape, bool on_store) {
  const int64_t n = state.range(0);
  const std::string script = script_of(shape, n);
  const std::string dir = std::filesystem::temp_directory_path() / ("bw-ingest-bench-" + std::to_string(getpid()));
  for (auto _ : state) {
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    {
      auto engine = open_engine(on_store ? std::optional(dir) : std::nullopt);
      run_or_abort(engine, setup_script(shape));
      state.ResumeTiming();
      run_or_abort(engine, script);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  std::filesystem::remove_all(dir);
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_IngestMixedMemory(benchmark::State& state) { ingest(state, "mixed", false); }
void BM_IngestMixedStore(benchmark::State& state) { ingest(state, "mixed", true); }
void BM_IngestSimpleMemory(benchmark::State& state) { ingest(state, "simple", false); }
BENCHMARK(BM_IngestMixedMemory)->Arg(1'000'000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IngestMixedStore)->Arg(1'000'000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IngestSimpleMemory)->Arg(1'000'000)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (mode == "memory" && (argc == 4 || argc == 5)) {
    return memory_mode(argv[2], std::atoll(argv[3]), argc == 5 ? std::optional<std::string>(argv[4]) : std::nullopt);
  }
  if (mode == "reopen" && argc == 4) return reopen_mode(argv[2], std::atoll(argv[3]));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
