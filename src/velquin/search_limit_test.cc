#include "velquin/search_limit.h"

#include <gtest/gtest.h>

#include "velquin/parser.h"

namespace brackwater::velquin {
namespace {

std::optional<uint64_t> limit_of(std::string_view script) {
  auto pairs = parse(Rule::velquin, script);
  EXPECT_TRUE(pairs) << script;
  if (!pairs) return 999;
  return statement_limit(NodeView(pairs->tree().get(), pairs->first()->index()));
}

TEST(SearchLimit, ReadsTheIntOfTheLimitClause) {
  struct Case {
    std::string_view script;
    std::optional<uint64_t> limit;
  };
  const Case cases[] = {
      {"search [*, *, *] return ?x;", std::nullopt},
      {"search [*, *, *] return ?x limit 5;", 5},
      {"search [*, *, *] return ?x LIMIT 0;", 0},
      {"search [*, *, *] return ?x limit 5 ;", 5},          // one digit keeps the blank in its text
      {"search [*, *, *] return ?x limit 5 /* rows */;", 5},  // ... and the comment
      {"search [*, *, *] return ?x limit +7;", 7},
      {"search [*, *, *] return ?x limit 12 ;", 12},
      {"search [*, *, *] return ?x limit -3;", std::nullopt},
      {"search [*, *, *] return ?x limit + 7;", std::nullopt},
      {"search [*, *, *] return ?x limit 1 2;", std::nullopt},
      {"search [*, *, *] return ?x limit 99999999999999999999;", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(limit_of(c.script), c.limit) << c.script;
}

TEST(SearchLimit, EffectiveLimit) {
  EXPECT_EQ(effective_limit(3, 5), 3u);
  EXPECT_EQ(effective_limit(10, 5), 5u);
  EXPECT_EQ(effective_limit(std::nullopt, 5), 5u);
  EXPECT_EQ(effective_limit(4, std::nullopt), 4u);
  EXPECT_EQ(effective_limit(std::nullopt, std::nullopt), std::nullopt);
  EXPECT_EQ(effective_limit(4, 0), 0u);
}

}  // namespace
}  // namespace brackwater::velquin
