#include "construct/error.h"

#include <gtest/gtest.h>

namespace brackwater::construct {
namespace {

TEST(EngineError, DisplayTemplates) {
  const std::pair<EngineError, std::string_view> cases[] = {
      {EngineError::config("bad"), "Config error: bad"},
      {EngineError::persistence("No such file or directory (os error 2)"),
       "Persistence error: No such file or directory (os error 2)"},
      {EngineError::data_corruption("truncated time year"), "Data corruption: truncated time year"},
      {EngineError::parse("line 1\nline 2"), "Parse error: line 1\nline 2"},
      {EngineError::execution("role name cannot be empty"), "Execution error: role name cannot be empty"},
      {EngineError::cancelled(), "Execution cancelled"},
      {EngineError::timed_out(), "Execution timed out"},
      {EngineError::resource_limit("posits scanned", 1000000), "Resource limit exceeded for posits scanned: maximum 1000000"},
      {EngineError::resource_limit("x", UINT64_MAX), "Resource limit exceeded for x: maximum 18446744073709551615"},
      {EngineError::unknown_role("wife"), "Unknown role: wife"},
      {EngineError::invalid_appearance_set("an appearance set may contain at most one Thing for each Role"),
       "Invalid appearance set: an appearance set may contain at most one Thing for each Role"},
      {EngineError::unknown_variable("x"), "Unknown variable: x"},
      {EngineError::incompatible_domains("Thing", "Posit", "x"), "Query variable 'x' has incompatible domains: Thing and Posit"},
      {EngineError::incompatible_domains("Role", "Time", "v"), "Query variable 'v' has incompatible domains: Role and Time"},
      {EngineError::invalid_query_recall("variable 'p' is not bound in a prior command"),
       "Invalid query recall: variable 'p' is not bound in a prior command"},
      {EngineError::unsupported_comparison("ordering is unsupported between String and String"),
       "Unsupported comparison: ordering is unsupported between String and String"},
      {EngineError::invalid_parameter("'$x' is not a valid parameter name"),
       "Invalid parameter: '$x' is not a valid parameter name"},
      {EngineError::internal("validated assertion target disappeared"),
       "Internal invariant violated: validated assertion target disappeared"},
      {EngineError::lock_poisoned(), "Lock poisoned: poisoned lock: another task failed inside"},
      {EngineError::execution(""), "Execution error: "},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.display(), text);
}

TEST(EngineError, KindsAndPayloads) {
  EXPECT_EQ(static_cast<int>(EngineError::config("").kind()), 0);
  EXPECT_EQ(static_cast<int>(EngineError::timed_out().kind()), 6);
  EXPECT_EQ(static_cast<int>(EngineError::unsupported_comparison("").kind()), 13);
  EXPECT_EQ(static_cast<int>(EngineError::lock_poisoned().kind()), 16);
  EngineError parse = EngineError::parse("m");
  EXPECT_EQ(parse.message(), "m");
  EXPECT_FALSE(parse.line().has_value());
  EXPECT_FALSE(parse.column().has_value());
  EngineError limit = EngineError::resource_limit("posits scanned", 7);
  EXPECT_EQ(limit.limit_name(), "posits scanned");
  EXPECT_EQ(limit.maximum(), 7u);
  EngineError domains = EngineError::incompatible_domains("AppearanceSet", "LiteralValue", "var");
  EXPECT_EQ(domains.first_domain(), "AppearanceSet");
  EXPECT_EQ(domains.second_domain(), "LiteralValue");
  EXPECT_EQ(domains.message(), "var");
  EXPECT_EQ(EngineError::lock_poisoned().message(), kPoisonedLockMessage);
  EXPECT_TRUE(EngineError::cancelled().message().empty());
}

}  // namespace
}  // namespace brackwater::construct
