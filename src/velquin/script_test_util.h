// Test helpers for scripts run on a fresh memory engine: a fixture with a fixed "now", and a
// Posit rendered as "{(8, r)} | 1 | 2024-03-01 10:00:05" (or "none").
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "construct/engine.h"
#include "construct/engine_state.h"
#include "construct/posit_index.h"
#include "velquin/execute.h"

namespace brackwater::velquin::testing {

inline const literal::TimeValue kScriptNow = literal::TimeValue::of_date_time(2024, 3, 1, 10 * 3600 + 5, 0);

class MemoryScriptTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = construct::Engine::open(std::nullopt);
    ASSERT_TRUE(opened) << opened.error().display();
    engine = std::move(*opened);
  }

  // Runs `script` with "now" fixed at kScriptNow unless the options give one.
  construct::Result<std::vector<ResultSet>> execute(std::string_view script, ExecuteOptions options = {}) {
    if (!options.now) options.now = kScriptNow;
    return execute_script(engine, script, std::move(options));
  }

  // The display text of the script's error, or "ok".
  std::string outcome(std::string_view script, ExecuteOptions options = {}) {
    auto r = execute(script, std::move(options));
    return r ? std::string("ok") : r.error().display();
  }

  std::string posit(construct::Identity id) {
    auto registry = engine->state().components.lock();
    if (!registry) return "poisoned";
    construct::PositRef p = construct::posit_by_identity(**registry, id);
    if (p == nullptr) return "none";
    return construct::format_appearance_set(*p->appearance_set) + " | " + p->value.text + " | " +
           p->appearance_time.display();
  }

  // Draws (and so uses up) the next identity: shows how many a script drew.
  construct::Identity next_identity() { return *engine->draw_identity(); }

  std::shared_ptr<construct::Engine> engine;
};

}  // namespace brackwater::velquin::testing
