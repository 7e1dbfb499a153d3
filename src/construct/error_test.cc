#include "construct/error.h"

#include <gtest/gtest.h>

namespace brackwater::construct {
namespace {

// The display templates that no caller's test reaches; every other one is pinned where its error is made.
TEST(EngineError, DisplayTemplatesNoCallerReaches) {
  EXPECT_EQ(EngineError::config("bad").display(), "Config error: bad");
  EXPECT_EQ(EngineError::parse("line 1\nline 2").display(), "Parse error: line 1\nline 2");
  EXPECT_EQ(EngineError::resource_limit("x", UINT64_MAX).display(),
            "Resource limit exceeded for x: maximum 18446744073709551615");
}

}  // namespace
}  // namespace brackwater::construct
