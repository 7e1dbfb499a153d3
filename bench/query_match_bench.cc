// Pattern matching benchmarks straight on match_pattern_for_row: a single-Role scan, the second
// pattern of a join through a bound Thing (per outer row), and the "as of" filter over many versions
// of one appearance set beside the pairwise filter it replaces.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "construct/engine.h"
#include "velquin/execute.h"
#include "construct/engine_reads.h"
#include "velquin/query/latest.h"
#include "velquin/query/match.h"

namespace {

using namespace brackwater;
using namespace brackwater::velquin::query;

template <class R>
auto ok(R r) {
  if (!r) {
    std::fprintf(stderr, "%s\n", r.error().display().c_str());
    std::abort();
  }
  if constexpr (!std::is_void_v<typename R::value_type>) return std::move(*r);
}

// Things t0..t{n-1}, each with a name and `versions` ages at the years 1000, 1001, ...
std::shared_ptr<construct::Engine> engine_with(int64_t things, int64_t versions) {
  auto engine = ok(construct::Engine::open(std::nullopt));
  std::string s = "add role name, age; add posit ";
  for (int64_t i = 0; i < things; ++i) {
    const std::string t = "t" + std::to_string(i);
    s += "[{(+" + t + ", name)}, \"n" + std::to_string(i) + "\", '2020'],";
    for (int64_t v = 0; v < versions; ++v) {
      s += "[{(" + t + ", age)}, " + std::to_string(v) + ", '" + std::to_string(1000 + v) + "'],";
    }
  }
  s.back() = ';';
  velquin::ExecuteOptions options;
  options.now = literal::TimeValue::of_year(2024);
  ok(velquin::execute_script(engine, s, std::move(options)));
  return engine;
}

// Variables: a, n, p, t, x.
constexpr size_t kWidth = 5;
PositPattern role_pattern(std::string role, VarId value) {
  PositPattern p;
  p.appearances.push_back(AppearanceSearch{RoleName{std::move(role)}, Var{"x", 4}});
  p.value = Var{value == 0 ? "a" : "n", value};
  p.time = Var{"t", 3};
  return p;
}

velquin::ExecContext context() {
  velquin::ExecContext ctx;
  ctx.cancel = velquin::make_cancel_flag();
  return ctx;
}

void BM_RoleScan(benchmark::State& state) {
  auto engine = engine_with(state.range(0), 1);
  const PositPattern p = role_pattern("name", 1);
  const auto ctx = context();
  const BindingRow row(kWidth);
  for (auto _ : state) {
    effect::EffectCache cache;
    RowTable out(kWidth);
    ok(match_pattern_for_row(*engine, p, row, ctx, cache, out));
    benchmark::DoNotOptimize(out.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RoleScan)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

void BM_JoinInner(benchmark::State& state) {
  auto engine = engine_with(state.range(0), 1);
  const auto ctx = context();
  effect::EffectCache cache;
  RowTable outer(kWidth);
  ok(match_pattern_for_row(*engine, role_pattern("name", 1), BindingRow(kWidth), ctx, cache, outer));
  PositPattern inner = role_pattern("age", 0);
  inner.time = Wildcard{};
  for (auto _ : state) {
    RowTable out(kWidth);
    for (size_t i = 0; i < outer.size(); ++i) ok(match_pattern_for_row(*engine, inner, outer.row(i), ctx, cache, out));
    benchmark::DoNotOptimize(out.size());
  }
  state.SetItemsProcessed(state.iterations() * int64_t(outer.size()));
}
BENCHMARK(BM_JoinInner)->Arg(10'000)->Arg(100'000)->Unit(benchmark::kMillisecond);

// as of over the versions of one set: the whole match, then the two filters alone.
void BM_AsOfOneSet(benchmark::State& state) {
  auto engine = engine_with(1, state.range(0));
  PositPattern p = role_pattern("age", 0);
  p.as_of = CutoffOperand(literal::TimeValue::of_year(5000));
  const auto ctx = context();
  for (auto _ : state) {
    effect::EffectCache cache;
    RowTable out(kWidth);
    ok(match_pattern_for_row(*engine, p, BindingRow(kWidth), ctx, cache, out));
    if (out.size() != 1) std::abort();
  }
}
BENCHMARK(BM_AsOfOneSet)->Arg(100)->Arg(10'000)->Unit(benchmark::kMicrosecond);

std::vector<construct::PositRef> versions(construct::Engine& engine) {
  RowTable out(kWidth);
  effect::EffectCache cache;
  PositPattern p = role_pattern("age", 0);
  p.posit_binding = Var{"p", 2};
  ok(match_pattern_for_row(engine, p, BindingRow(kWidth), context(), cache, out));
  std::vector<construct::PositRef> posits;
  for (size_t i = 0; i < out.size(); ++i) posits.push_back(ok(construct::reads::posit(engine, std::get<PositValue>(out.row(i)[2]).id)));
  return posits;
}

void BM_LatestGrouped(benchmark::State& state) {
  auto engine = engine_with(1, state.range(0));
  const auto posits = versions(*engine);
  for (auto _ : state) benchmark::DoNotOptimize(retain_latest_candidates(posits));
}
BENCHMARK(BM_LatestGrouped)->Arg(10'000)->Unit(benchmark::kMicrosecond);

void BM_LatestPairwise(benchmark::State& state) {
  auto engine = engine_with(1, state.range(0));
  const auto posits = versions(*engine);
  for (auto _ : state) {
    std::vector<uint32_t> kept;
    for (uint32_t i = 0; i < posits.size(); ++i) {
      bool dropped = false;
      for (uint32_t j = 0; j < posits.size() && !dropped; ++j) {
        dropped = j != i && construct::appearance_list_eq(*posits[i]->appearance_set, *posits[j]->appearance_set) &&
                  literal::TimeValue::ends_at_or_before_start(posits[i]->appearance_time, posits[j]->appearance_time);
      }
      if (!dropped) kept.push_back(i);
    }
    benchmark::DoNotOptimize(kept);
  }
}
BENCHMARK(BM_LatestPairwise)->Arg(10'000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
