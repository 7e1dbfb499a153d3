#include "python/timeout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace brackwater::python {
namespace {

struct Case {
  double seconds;
  uint64_t secs;
  uint32_t nanos;
};

TEST(SecondsToDuration, SplitsExactlyAndRoundsTiesToEven) {
  const Case cases[] = {
      {1.5, 1, 500'000'000},
      {0.1, 0, 100'000'000},                 // 0.1000000000000000055...
      {1e-9, 0, 1},                          // 1.00000000000000006e-9
      {4e-10, 0, 0},                         // below half a nanosecond
      {6e-10, 0, 1},
      {1.0 / 1024, 0, 976'562},              // 976562.5 ns: tie, to even
      {3.0 / 1024, 0, 2'929'688},            // 2929687.5 ns: tie, to even
      {0.9999999999, 1, 0},                  // rounds up to a whole second and carries
      {5e-324, 0, 0},                        // the smallest subnormal
      {18446744073709549568.0, 18446744073709549568ULL, 0},  // the largest double below 2^64
      {86400.000000001, 86400, 1},
  };
  for (const Case& c : cases) {
    auto duration = seconds_to_duration(c.seconds, "timeout");
    ASSERT_TRUE(duration.has_value()) << c.seconds;
    EXPECT_EQ(duration->secs, c.secs) << c.seconds;
    EXPECT_EQ(duration->nanos, c.nanos) << c.seconds;
  }
}

TEST(SecondsToDuration, RefusesWithTheArgumentName) {
  const double not_positive[] = {0.0, -0.0, -1.0, -5e-324, std::nan(""), std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity()};
  for (double seconds : not_positive) {
    auto duration = seconds_to_duration(seconds, "timeout");
    ASSERT_FALSE(duration.has_value()) << seconds;
    EXPECT_EQ(duration.error(), "timeout must be a finite positive number of seconds");
  }
  for (double seconds : {18446744073709551616.0, 1e300, std::numeric_limits<double>::max()}) {
    auto duration = seconds_to_duration(seconds, "as_of");
    ASSERT_FALSE(duration.has_value()) << seconds;
    EXPECT_EQ(duration.error(), "as_of is outside the supported duration range");
  }
}

}  // namespace
}  // namespace brackwater::python
