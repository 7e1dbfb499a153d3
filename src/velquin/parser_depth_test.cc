// Deeply nested brackets: no stack exhaustion and linear time at any depth.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "velquin/parser.h"

namespace brackwater::velquin {
namespace {

constexpr size_t kDepth = 1'000'000;

std::string nested(char open, char close, size_t depth, bool balanced) {
  std::string s(depth, open);
  if (balanced) s.append(depth, close);
  return s;
}

TEST(ParserDepth, BalancedJsonToken) {
  const std::string value = nested('{', '}', kDepth, true);
  auto result = VelquinParser::parse(Rule::json, value);
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->first()->text().size(), value.size());

  std::string mixed = "{" + nested('[', ']', kDepth, true) + "}";
  EXPECT_TRUE(VelquinParser::parse(Rule::json, mixed).has_value());
}

TEST(ParserDepth, UnbalancedJsonToken) {
  EXPECT_FALSE(VelquinParser::parse(Rule::json, nested('{', '}', kDepth, false)).has_value());
  std::string crossed = nested('{', '}', kDepth, false) + "]";
  EXPECT_FALSE(VelquinParser::parse(Rule::json, crossed).has_value());
  std::string quoted = nested('{', '}', kDepth, false) + "\"" + std::string(kDepth, '}');
  EXPECT_FALSE(VelquinParser::parse(Rule::string, quoted).has_value());
}

TEST(ParserDepth, NestedValueInScript) {
  const std::string value = nested('{', '}', kDepth, true);
  const std::string script = "add posit [{(+p, r)}, " + value + ", @NOW];";
  auto result = VelquinParser::parse(Rule::velquin, script);
  ASSERT_TRUE(result.has_value());

  const std::string open_script = "add posit [{(+p, r)}, " + nested('{', '}', kDepth, false) + ", @NOW];";
  auto failed = VelquinParser::parse(Rule::velquin, open_script);
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().pos, 22u);  // the value slot, where every value rule failed
}

TEST(ParserDepth, BracketRulesStartedDirectly) {
  // Without atomicity every level makes its own pair.
  auto result = VelquinParser::parse(Rule::json_object, nested('{', '}', kDepth, true));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->tree()->nodes.size(), kDepth);

  auto failed = VelquinParser::parse(Rule::json_array, nested('[', ']', kDepth, false));
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().pos, kDepth);
  EXPECT_EQ(failed.error().positives, (std::vector<Rule>{Rule::json_string, Rule::json_object, Rule::json_array}));
}

// Without blanks and comments the implicit skip never applies, so the bracket scanner of the json
// token and the bracket rules run directly must match exactly the same texts.
TEST(ParserDepth, ScannerAgreesWithBracketRules) {
  const char alphabet[] = {'{', '}', '[', ']', '"', '\\', 'a', ','};
  std::mt19937_64 rng(99);
  for (int round = 0; round < 50000; ++round) {
    std::string text = "{";
    const size_t length = rng() % 16;
    for (size_t i = 0; i < length; ++i) text += alphabet[rng() % sizeof alphabet];
    auto token = VelquinParser::parse(Rule::json, text);
    auto rules = VelquinParser::parse(Rule::json_object, text);
    ASSERT_EQ(token.has_value(), rules.has_value()) << text;
    if (token) {
      ASSERT_EQ(token->first()->end(), rules->first()->end()) << text;
    }
  }
}

}  // namespace
}  // namespace brackwater::velquin
