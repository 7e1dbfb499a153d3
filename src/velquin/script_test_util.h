// Test helper: a Posit of an engine rendered as "{(8, r)} | 1 | 2024-03-01 10:00:05", or "none".
#pragma once

#include <string>

#include "construct/engine.h"
#include "construct/engine_state.h"
#include "construct/posit_index.h"

namespace brackwater::velquin::testing {

inline std::string describe_posit(construct::Engine& engine, construct::Identity id) {
  auto registry = engine.state().components.lock();
  if (!registry) return "poisoned";
  construct::PositRef p = construct::posit_by_identity(**registry, id);
  if (p == nullptr) return "none";
  return construct::format_appearance_set(*p->appearance_set) + " | " + p->value.text + " | " +
         p->appearance_time.display();
}

}  // namespace brackwater::velquin::testing
