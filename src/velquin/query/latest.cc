#include "velquin/query/latest.h"

namespace brackwater::velquin::query {

std::vector<uint32_t> retain_latest_candidates(std::span<const construct::PositRef> candidates) {
  std::vector<uint32_t> kept;
  for (uint32_t i = 0; i < candidates.size(); ++i) kept.push_back(i);
  return kept;
}

}  // namespace brackwater::velquin::query
