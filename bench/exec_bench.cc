// Script execution benchmarks, end to end through execute_script: one `add posit` of many Posits
// (separate clauses, and one clause over a product of candidate lists), many small scripts, and the
// conversion of many parameters.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "construct/engine.h"
#include "velquin/execute.h"
#include "script_engine.h"

namespace {

using namespace brackwater;
using construct::Engine;
using velquin::ExecuteOptions;

using bench::open_engine;
using bench::run_or_abort;

std::string temp_dir(const std::string& tag) {
  std::string dir = std::filesystem::temp_directory_path() / ("bw-exec-bench-" + tag + "-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  return dir;
}

// add posit [{(+t0, name)}, "v0", '2020-01-01'], ... : n clauses, one new Thing each.
std::string clauses_script(int64_t n) {
  std::string s = "add posit ";
  for (int64_t i = 0; i < n; ++i) {
    s += "[{(+t" + std::to_string(i) + ", name)}, \"v" + std::to_string(i) + "\", '2020-01-01'],\n";
  }
  s += ";";
  return s;
}

void add_posit_clauses(benchmark::State& state, bool on_store) {
  const int64_t n = state.range(0);
  const std::string script = clauses_script(n);
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::string dir = temp_dir("clauses" + std::to_string(round++));
    {
      auto engine = open_engine(on_store ? std::optional(dir) : std::nullopt);
      run_or_abort(engine, "add role name;");
      state.ResumeTiming();
      run_or_abort(engine, script);
      state.PauseTiming();
    }
    std::filesystem::remove_all(dir);
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_AddPositClausesMemory(benchmark::State& state) { add_posit_clauses(state, false); }
void BM_AddPositClausesStore(benchmark::State& state) { add_posit_clauses(state, true); }
BENCHMARK(BM_AddPositClausesMemory)->Arg(100'000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AddPositClausesStore)->Arg(100'000)->Unit(benchmark::kMillisecond);

// One script: x and y bound to `side` Posits each, then one clause over both: side * side Posits.
void BM_AddPositProductMemory(benchmark::State& state) {
  const int64_t side = state.range(0);
  std::string script = "add posit ";
  for (int64_t i = 0; i < side; ++i) {
    std::string n = std::to_string(i);
    script += "+x [{(+u" + n + ", a)}, " + n + ", @BOT], +y [{(+v" + n + ", b)}, " + n + ", @EOT], ";
  }
  script += "; add posit [{(x, a), (y, b)}, 1, '2020'];";
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = open_engine(std::nullopt);
    run_or_abort(engine, "add role a, b;");
    state.ResumeTiming();
    run_or_abort(engine, script);
    state.PauseTiming();
    engine.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * (side * side + 2 * side));
}
BENCHMARK(BM_AddPositProductMemory)->Arg(100)->Arg(300)->Unit(benchmark::kMillisecond);

// Many scripts of one small `add posit` each: the per-statement cost (on a store, the durable
// commit of each statement).
void small_scripts(benchmark::State& state, bool on_store) {
  std::string dir = temp_dir("small");
  auto engine = open_engine(on_store ? std::optional(dir) : std::nullopt);
  run_or_abort(engine, "add role r;");
  int64_t i = 0;
  for (auto _ : state) {
    run_or_abort(engine, "add posit [{(+x, r)}, " + std::to_string(i++) + ", @NOW];");
  }
  state.SetItemsProcessed(state.iterations());
  engine.reset();
  std::filesystem::remove_all(dir);
}
void BM_SmallScriptMemory(benchmark::State& state) { small_scripts(state, false); }
void BM_SmallScriptStore(benchmark::State& state) { small_scripts(state, true); }
BENCHMARK(BM_SmallScriptMemory)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SmallScriptStore)->Iterations(10'000)->Unit(benchmark::kMicrosecond);

// A script that reads two parameters out of many: the conversion of the whole map dominates.
void BM_ParameterConversion(benchmark::State& state) {
  const int64_t n = state.range(0);
  auto engine = open_engine(std::nullopt);
  run_or_abort(engine, "add role r;");
  ExecuteOptions options;
  for (int64_t i = 0; i < n; ++i) {
    std::string name = "p" + std::to_string(i);
    switch (i % 4) {
      case 0: options.parameters[name] = {velquin::ParameterKind::Literal, std::to_string(i)}; break;
      case 1: options.parameters[name] = {velquin::ParameterKind::Literal, "\"text " + name + "\""}; break;
      case 2: options.parameters[name] = {velquin::ParameterKind::Time, "'2020-01-02 03:04:05'"}; break;
      default: options.parameters[name] = {velquin::ParameterKind::Literal, "1.5"}; break;
    }
  }
  for (auto _ : state) run_or_abort(engine, "add posit [{(+x, r)}, $p0, $p2];", options);
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ParameterConversion)->Arg(1'000)->Unit(benchmark::kMicrosecond);

// The point search of bench/sqlite_compare.py over n Things with a name and an age each: the
// per-script cost of a small search, parse to result sets (the response envelope not included).
void BM_PointSearch(benchmark::State& state) {
  const int64_t n = state.range(0);
  auto engine = open_engine(std::nullopt);
  run_or_abort(engine, "add role name, age, probe;");
  constexpr int64_t kChunk = 10'000;
  for (int64_t lo = 0; lo < n; lo += kChunk) {
    std::string names = "add posit ";
    std::string ages = "add posit ";
    for (int64_t i = lo; i < std::min(n, lo + kChunk); ++i) {
      const std::string t = std::to_string(i);
      names += "[{(+t" + t + ", name)}, \"n" + t + "\", '2020-01-01'],";
      ages += "[{(t" + t + ", age)}, " + std::to_string(i % 90) + ", '1900-01-01'],";
    }
    names.back() = ';';
    ages.back() = ';';
    run_or_abort(engine, names + ages + (lo == 0 ? "add posit [{(t0, probe)}, 1, '2020-01-01'];" : ""));
  }
  const std::string search = "search [{(?t, probe)}, *, *] [{(?t, age)}, ?g, *] as of @NOW return ?g;";
  for (auto _ : state) run_or_abort(engine, search);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PointSearch)->Arg(100'000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
