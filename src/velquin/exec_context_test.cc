#include "velquin/exec_context.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

using construct::ErrorKind;

ExecContext make_context() {
  ExecContext ctx;
  ctx.cancel = make_cancel_flag();
  return ctx;
}

TEST(ExecContext, StopCheckCancelBeforeDeadline) {
  ExecContext ctx = make_context();
  EXPECT_TRUE(ctx.check_stop());
  ctx.deadline = Deadline(MonoInstant{0, 0});  // long passed
  EXPECT_EQ(ctx.check_stop().error().kind(), ErrorKind::TimedOut);
  ctx.cancel->store(true);
  EXPECT_EQ(ctx.check_stop().error().kind(), ErrorKind::Cancelled);
  ctx.deadline.reset();
  EXPECT_EQ(ctx.check_stop().error().kind(), ErrorKind::Cancelled);
}

TEST(ExecContext, LookupDropsOneDollar) {
  ExecContext ctx = make_context();
  ctx.parameters.emplace("v", ParameterValue{literal::Literal{"5", literal::LiteralKind::Integer}, std::nullopt});
  ctx.parameters.emplace("$w", ParameterValue{literal::Literal{"6", literal::LiteralKind::Integer}, std::nullopt});
  EXPECT_EQ((*ctx.lookup_parameter("$v"))->literal.text, "5");
  EXPECT_EQ((*ctx.lookup_parameter("v"))->literal.text, "5");
  EXPECT_EQ((*ctx.lookup_parameter("$$w"))->literal.text, "6");  // one "$" removed, one kept
  auto missing = ctx.lookup_parameter("$V");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), ErrorKind::InvalidParameter);
  EXPECT_EQ(missing.error().message(), "missing parameter '$V'");
  EXPECT_EQ(ctx.lookup_parameter("$$x").error().message(), "missing parameter '$$x'");
}

}  // namespace
}  // namespace brackwater::velquin
