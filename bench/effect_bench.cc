// Assertions in effect: compute_effective_assertions over engines of 10k, 100k and 1M assertion
// candidates, and over one group that needs nearly the whole comparison budget of the matcher.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "construct/deadline.h"
#include "construct/engine.h"
#include "effect/effect_cache.h"
#include "effect/effective_assertions.h"

namespace {

using namespace brackwater;
using construct::Engine;
using construct::PendingAssertion;
using construct::PendingPosit;
using literal::LiteralKind;
using literal::TimeValue;

struct Fixture {
  std::shared_ptr<Engine> engine = Engine::open(std::nullopt).value();
  construct::RoleRef role = engine->add_roles({{"measure", false}}).value().at(0).role;

  construct::AppearanceSetRef new_set() {
    auto a = engine->intern_appearance(role, engine->draw_identity().value()).value().first;
    return engine->intern_appearance_set({a}).value().first;
  }
  void add(std::vector<PendingPosit> posits, std::vector<PendingAssertion> assertions) {
    if (!engine->add_posits(std::move(posits), std::move(assertions))) std::abort();
  }
};

literal::Literal certainty(int percent) { return {std::to_string(percent) + "%", LiteralKind::Certainty}; }

// `candidates` assertions: per Thing two Posits (2020 and 2021) in one set, each asserted by two
// sources out of 1000; every fourth assertion is a retraction made after the others.
Fixture& mixed(int64_t candidates) {
  static std::map<int64_t, std::unique_ptr<Fixture>> built;
  auto& slot = built[candidates];
  if (slot) return *slot;
  slot = std::make_unique<Fixture>();
  std::vector<construct::Identity> sources;
  for (int i = 0; i < 1000; ++i) sources.push_back(slot->engine->draw_identity().value());
  const int64_t per_command = 20000;
  int64_t made = 0;
  while (made < candidates) {
    std::vector<PendingPosit> posits;
    std::vector<PendingAssertion> assertions;
    for (int64_t k = 0; k < per_command / 4 && made < candidates; ++k) {
      auto set = slot->new_set();
      for (int y = 0; y < 2; ++y) {
        const uint64_t target = posits.size();
        posits.push_back({{std::to_string(y), LiteralKind::Integer}, set, TimeValue::of_year(2020 + y)});
        for (int s = 0; s < 2; ++s, ++made) {
          const bool retraction = made % 4 == 3;
          assertions.push_back({certainty(retraction ? 0 : 80), TimeValue::of_year(retraction ? 2023 : 2022), target,
                                sources[(made / 2) % sources.size()]});
        }
      }
    }
    slot->add(std::move(posits), std::move(assertions));
  }
  return *slot;
}

void run(benchmark::State& state, Fixture& f, uint64_t max_candidates) {
  const construct::CancelFlag cancel = construct::make_cancel_flag();
  construct::Budget stop([&cancel] { return construct::check_stop(*cancel, std::nullopt); });
  const effect::EffectCutoffs cutoffs{TimeValue::eot(), TimeValue::eot()};
  size_t rows = 0;
  for (auto _ : state) {
    auto r = effect::compute_effective_assertions(*f.engine, cutoffs, max_candidates, effect::kEffectMaxComparisons,
                                                  stop);
    if (!r) {
      state.SkipWithError(r.error().display().c_str());
      return;
    }
    rows = (*r)->size();
    benchmark::DoNotOptimize(rows);
  }
  state.counters["in_effect"] = double(rows);
}

void BM_EffectCandidates(benchmark::State& state) { run(state, mixed(state.range(0)), effect::kEffectMaxCandidates); }
BENCHMARK(BM_EffectCandidates)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// One source asserting `k` Posits of one set at one appearance time: nobody is later, so every
// record is compared with all k - 1 others; k = 4472 charges 19,994,312 of the 20,000,000.
void BM_EffectWorstGroup(benchmark::State& state) {
  static std::map<int64_t, std::unique_ptr<Fixture>> built;
  auto& slot = built[state.range(0)];
  if (!slot) {
    slot = std::make_unique<Fixture>();
    const auto source = slot->engine->draw_identity().value();
    auto set = slot->new_set();
    std::vector<PendingPosit> posits;
    std::vector<PendingAssertion> assertions;
    for (int64_t i = 0; i < state.range(0); ++i) {
      posits.push_back({{std::to_string(i), LiteralKind::Integer}, set, TimeValue::of_year(2020)});
      assertions.push_back({certainty(50), TimeValue::of_year(2022), uint64_t(i), source});
    }
    slot->add(std::move(posits), std::move(assertions));
  }
  run(state, *slot, effect::kEffectMaxCandidates);
}
BENCHMARK(BM_EffectWorstGroup)->Arg(4472)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
