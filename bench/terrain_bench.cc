// Terrain benchmarks: how long the capture holds the engine-wide lock, the latency a concurrent
// script sees meanwhile, and the total time and peak memory of a Terrain (capture, computation and
// JSON) against the Posit count, for these shapes of database:
//   attributes  12 attribute Roles (the projection keeps 8), 5 Posits per set;
//   signatures  200 relationship signatures (the catalog keeps 128), 5 Posits per set;
//   deep        one set of 3,000 Posits before as_of (about 4.5M of the 5M temporal comparisons),
//               the rest after it;
//   triples     one Posit per set of three new Things in three random Roles of 300 (nearly every
//               set has a signature of its own);
//   roles       one-member sets over 50,000 attribute Roles, 2 Posits per set.
// Peak memory is the growth of the peak resident size over the resident size before the call.
// Then, per shape at its largest size, how late a Terrain that times out ends: the deadline is set
// at tenths of the full run's time, and the table shows the largest and the mean time from the
// deadline to the return of the error (TimedOut), with the number of runs that answered instead.
// Run after `make bench`: build/bench/terrain_bench [--quick]
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "construct/engine.h"
#include "terrain/capture.h"
#include "terrain/terrain.h"
#include "velquin/execute.h"

namespace {

using namespace brackwater;
using construct::Engine;
using construct::PendingPosit;
using literal::TimeValue;
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

uint64_t status_kb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind(key, 0) == 0) return std::strtoull(line.c_str() + std::strlen(key), nullptr, 10);
  }
  return 0;
}

// Returns freed heap memory to the system, so that the computation's allocations show in the
// resident size, and resets the peak resident size to the current one.
void reset_peak() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
}

class Builder {
 public:
  Builder() : engine_(Engine::open(std::nullopt).value()) {}

  construct::RoleRef role(const std::string& name) { return engine_->add_roles({{name, false}}).value().at(0).role; }
  construct::Identity thing() { return engine_->draw_identity().value(); }
  construct::AppearanceSetRef set(std::vector<std::pair<construct::RoleRef, construct::Identity>> members) {
    std::sort(members.begin(), members.end(), [](auto& a, auto& b) { return a.first->identity < b.first->identity; });
    std::vector<construct::AppearanceRef> refs;
    for (auto [role, thing] : members) refs.push_back(engine_->intern_appearance(role, thing).value().first);
    return engine_->intern_appearance_set(std::move(refs)).value().first;
  }
  void posit(construct::AppearanceSetRef set, TimeValue time) {
    pending_.push_back(PendingPosit{{std::to_string(next_value_++), literal::LiteralKind::Integer}, set, time});
    if (pending_.size() == 50'000) flush();
  }
  std::shared_ptr<Engine> done() {
    flush();
    return engine_;
  }

 private:
  void flush() {
    if (!engine_->add_posits(std::move(pending_), {})) std::abort();
    pending_.clear();
  }
  std::shared_ptr<Engine> engine_;
  std::vector<PendingPosit> pending_;
  uint64_t next_value_ = 0;
};

constexpr int kSeries = 5;  // Posits per set in the attribute and signature shapes

std::shared_ptr<Engine> attributes_shape(size_t posits) {
  Builder b;
  std::vector<construct::RoleRef> roles;
  for (int i = 0; i < 12; ++i) roles.push_back(b.role("attribute " + std::to_string(i)));
  for (size_t made = 0; made < posits;) {
    const construct::Identity t = b.thing();
    for (size_t r = 0; r < roles.size() && made < posits; ++r) {
      auto set = b.set({{roles[r], t}});
      for (int k = 0; k < kSeries && made < posits; ++k, ++made) b.posit(set, TimeValue::of_year(2020 + k));
    }
  }
  return b.done();
}

std::shared_ptr<Engine> signatures_shape(size_t posits) {
  Builder b;
  std::vector<construct::RoleRef> roles;
  for (int i = 0; i < 25; ++i) roles.push_back(b.role("role " + std::to_string(i)));
  std::vector<std::pair<int, int>> pairs;
  for (int i = 0; i < 25 && pairs.size() < 200; ++i) {
    for (int j = i + 1; j < 25 && pairs.size() < 200; ++j) pairs.emplace_back(i, j);
  }
  std::vector<construct::Identity> things;
  for (int i = 0; i < 5000; ++i) things.push_back(b.thing());
  uint64_t n = 0;
  for (size_t made = 0; made < posits; ++n) {
    auto [i, j] = pairs[n % pairs.size()];
    auto set = b.set({{roles[i], things[n % things.size()]}, {roles[j], things[(n / things.size()) % things.size()]}});
    for (int k = 0; k < kSeries && made < posits; ++k, ++made) b.posit(set, TimeValue::of_year(2020 + k));
  }
  return b.done();
}

std::shared_ptr<Engine> deep_shape(size_t posits) {
  Builder b;
  auto role = b.role("reading");
  auto deep = b.set({{role, b.thing()}});
  for (int d = 0; d < 3000; ++d) {
    b.posit(deep, TimeValue::of_date(2000 + d / 365, uint8_t(1 + (d % 365) / 31), uint8_t(1 + (d % 365) % 28)));
  }
  for (size_t made = 3000; made < posits;) {
    auto set = b.set({{role, b.thing()}});
    for (int k = 0; k < kSeries && made < posits; ++k, ++made) b.posit(set, TimeValue::of_year(2200 + k));
  }
  return b.done();
}

std::shared_ptr<Engine> triples_shape(size_t posits) {
  Builder b;
  std::vector<construct::RoleRef> roles;
  for (int i = 0; i < 300; ++i) roles.push_back(b.role("r" + std::to_string(i)));
  std::mt19937_64 rng(1);
  for (size_t made = 0; made < posits; ++made) {
    std::vector<std::pair<construct::RoleRef, construct::Identity>> members;
    while (members.size() < 3) {
      const construct::RoleRef role = roles[rng() % roles.size()];
      if (std::none_of(members.begin(), members.end(), [role](auto& m) { return m.first == role; })) {
        members.emplace_back(role, b.thing());
      }
    }
    b.posit(b.set(std::move(members)), TimeValue::of_year(2020));
  }
  return b.done();
}

std::shared_ptr<Engine> roles_shape(size_t posits) {
  Builder b;
  std::vector<construct::RoleRef> roles;
  for (int i = 0; i < 50'000; ++i) roles.push_back(b.role("attribute " + std::to_string(i)));
  for (size_t made = 0; made < posits;) {
    auto set = b.set({{roles[(made / 2) % roles.size()], b.thing()}});
    for (int k = 0; k < 2 && made < posits; ++k, ++made) b.posit(set, TimeValue::of_year(2020 + k));
  }
  return b.done();
}

struct Figures {
  double lock_ms = 0;
  double total_ms = 0;
  double peak_bytes_per_posit = 0;
  double script_p50_ms = 0;
  double script_max_ms = 0;
  size_t json_bytes = 0;
  std::string error;
};

Figures measure(Engine& engine, const std::shared_ptr<Engine>& shared, size_t posits, TimeValue as_of) {
  Figures f;
  terrain::TerrainLimits limits;
  limits.as_of = as_of;
  limits.timeout = construct::Duration{60, 0};
  {
    auto budget = limits.validate().value();
    const auto start = Clock::now();
    auto snapshot = terrain::capture_snapshot(engine, budget);
    f.lock_ms = ms_since(start);
    if (!snapshot) f.error = snapshot.error().display();
  }

  // A script thread that takes the engine lock over and over while the Terrain runs.
  std::atomic<bool> stop{false};
  std::vector<double> latencies;
  std::thread scripts([&] {
    while (!stop.load()) {
      const auto start = Clock::now();
      if (!velquin::execute_script(shared, "", {})) std::abort();
      latencies.push_back(ms_since(start));
    }
  });
  reset_peak();
  const uint64_t rss_kb = status_kb("VmRSS:");
  const auto start = Clock::now();
  auto terrain = terrain::capture_terrain(engine, limits);
  std::string json;
  if (terrain) terrain::write_terrain_json(*terrain, json);
  f.total_ms = ms_since(start);
  f.peak_bytes_per_posit = double(status_kb("VmHWM:") - rss_kb) * 1024.0 / double(posits);
  stop = true;
  scripts.join();
  if (!terrain && f.error.empty()) f.error = terrain.error().display();
  f.json_bytes = json.size();
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    f.script_p50_ms = latencies[latencies.size() / 2];
    f.script_max_ms = latencies.back();
  }
  return f;
}

// The time from the deadline to the end of a Terrain that timed out, in ms (negative: it answered).
double lateness_ms(Engine& engine, TimeValue as_of, double timeout_ms) {
  terrain::TerrainLimits limits;
  limits.as_of = as_of;
  const auto ns = static_cast<uint64_t>(timeout_ms * 1e6);
  limits.timeout = construct::Duration{ns / 1'000'000'000, static_cast<uint32_t>(ns % 1'000'000'000)};
  const auto start = Clock::now();
  auto terrain = terrain::capture_terrain(engine, limits);
  const double elapsed = ms_since(start);
  return terrain ? -1.0 : elapsed - timeout_ms;
}

}  // namespace

int main(int argc, char** argv) {
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  struct Shape {
    const char* name;
    std::shared_ptr<Engine> (*build)(size_t);
    TimeValue as_of;
    std::vector<size_t> sizes;
  };
  const std::vector<size_t> full = quick ? std::vector<size_t>{10'000, 100'000} : std::vector<size_t>{10'000, 100'000, 1'000'000};
  const std::vector<size_t> sets = quick ? std::vector<size_t>{10'000, 100'000} : std::vector<size_t>{10'000, 100'000, 250'000};
  const Shape shapes[] = {
      {"attributes", attributes_shape, TimeValue::of_date(2022, 6, 1), full},
      {"signatures", signatures_shape, TimeValue::of_date(2022, 6, 1), full},
      {"deep", deep_shape, TimeValue::of_year(2100), {10'000, 100'000, 400'000}},
      {"triples", triples_shape, TimeValue::of_year(2100), sets},
      {"roles", roles_shape, TimeValue::of_year(2100), quick ? std::vector<size_t>{10'000, 100'000} : std::vector<size_t>{10'000, 100'000, 500'000}},
  };
  std::printf("%-11s %9s %10s %10s %12s %12s %12s %10s\n", "shape", "posits", "lock ms", "total ms", "peak B/posit",
              "script p50", "script max", "json KB");
  std::vector<std::pair<const Shape*, std::shared_ptr<Engine>>> largest;
  for (const Shape& shape : shapes) {
    for (const size_t n : shape.sizes) {
      auto engine = shape.build(n);
      const Figures f = measure(*engine, engine, n, shape.as_of);
      std::printf("%-11s %9zu %10.2f %10.1f %12.1f %10.2fms %10.2fms %10.1f %s\n", shape.name, n, f.lock_ms, f.total_ms,
                  f.peak_bytes_per_posit, f.script_p50_ms, f.script_max_ms, double(f.json_bytes) / 1024.0,
                  f.error.c_str());
      std::fflush(stdout);
      if (n == shape.sizes.back()) largest.emplace_back(&shape, std::move(engine));
    }
  }

  std::printf("\n%-11s %9s %10s %12s %12s %9s\n", "shape", "posits", "full ms", "late max ms", "late mean ms",
              "answered");
  for (auto& [shape, engine] : largest) {
    terrain::TerrainLimits limits;
    limits.as_of = shape->as_of;
    auto start = Clock::now();
    if (!terrain::capture_terrain(*engine, limits)) std::abort();
    const double full_ms = ms_since(start);
    double late_max = 0;
    double late_sum = 0;
    int late_runs = 0;
    int answered = 0;
    for (int tenth = 1; tenth <= 9; ++tenth) {
      const double late = lateness_ms(*engine, shape->as_of, full_ms * tenth / 10);
      if (late < 0) {
        ++answered;
        continue;
      }
      late_max = std::max(late_max, late);
      late_sum += late;
      ++late_runs;
    }
    std::printf("%-11s %9zu %10.1f %12.2f %12.2f %9d\n", shape->name, shape->sizes.back(), full_ms, late_max,
                late_runs == 0 ? 0.0 : late_sum / late_runs, answered);
    std::fflush(stdout);
  }
  return 0;
}
