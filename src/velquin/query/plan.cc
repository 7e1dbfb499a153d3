#include "velquin/query/plan.h"

namespace brackwater::velquin::query {

construct::Result<SearchPlan> plan_search(construct::Engine&, const PatternGroup& group, std::vector<bool>,
                                          const CompiledSearch&) {
  SearchPlan plan;
  for (const PositPattern& p : group) plan.push_back(&p);
  return plan;
}

}  // namespace brackwater::velquin::query
