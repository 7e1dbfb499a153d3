// Engines and scripts for the end-to-end benchmarks: any failure aborts the benchmark.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "construct/engine.h"
#include "velquin/execute.h"

namespace brackwater::bench {

inline const literal::TimeValue kNow = literal::TimeValue::of_date_time(2024, 3, 1, 36000, 0);

// A memory engine, or one over the store directory `path`.
inline std::shared_ptr<construct::Engine> open_engine(std::optional<std::string> path) {
  auto engine = construct::Engine::open(std::move(path));
  if (!engine) {
    std::fprintf(stderr, "%s\n", engine.error().display().c_str());
    std::abort();
  }
  return std::move(*engine);
}

// Runs `script` at kNow.
inline void run_or_abort(const std::shared_ptr<construct::Engine>& engine, std::string_view script,
                         velquin::ExecuteOptions options = {}) {
  options.now = kNow;
  auto r = velquin::execute_script(engine, script, std::move(options));
  if (!r) {
    std::fprintf(stderr, "%s\n", r.error().display().c_str());
    std::abort();
  }
}

}  // namespace brackwater::bench
