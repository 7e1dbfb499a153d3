#include "velquin/exec_context.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

// The stop check's order (cancel before deadline) is pinned through execute_script in execute_test.
TEST(ExecContext, LookupDropsOneDollar) {
  ExecContext ctx;
  ctx.parameters.emplace("v", ParameterValue{literal::Literal{"5", literal::LiteralKind::Integer}, std::nullopt});
  ctx.parameters.emplace("$w", ParameterValue{literal::Literal{"6", literal::LiteralKind::Integer}, std::nullopt});
  EXPECT_EQ((*ctx.lookup_parameter("$v"))->literal.text, "5");
  EXPECT_EQ((*ctx.lookup_parameter("v"))->literal.text, "5");
  EXPECT_EQ((*ctx.lookup_parameter("$$w"))->literal.text, "6");  // one "$" removed, one kept
  auto missing = ctx.lookup_parameter("$V");
  EXPECT_EQ(missing.error().kind(), construct::ErrorKind::InvalidParameter);
  EXPECT_EQ(missing.error().message(), "missing parameter '$V'");
  EXPECT_EQ(ctx.lookup_parameter("$$x").error().message(), "missing parameter '$$x'");
}

}  // namespace
}  // namespace brackwater::velquin
