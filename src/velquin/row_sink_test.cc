#include "velquin/row_sink.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

ResultRow row(std::string text) { return {ResultValue{std::move(text), ValueKind::Thing}}; }

TEST(BoundedRowSink, Limits) {
  struct Case {
    std::optional<uint64_t> limit;
    int offered;
    size_t kept;
    bool limited;
  };
  const Case cases[] = {
      {std::nullopt, 5, 5, false},
      {0, 1, 0, true},   // a limit of 0 is limited at the first row offered
      {0, 0, 0, false},
      {3, 3, 3, false},  // exactly the limit: not limited
      {3, 4, 3, true},
  };
  for (const auto& c : cases) {
    BoundedRowSink sink(c.limit);
    EXPECT_FALSE(sink.begin({"x"}));
    bool stopped = false;
    for (int i = 0; i < c.offered && !stopped; ++i) stopped = sink.push(row(std::to_string(i)));
    EXPECT_EQ(sink.rows.size(), c.kept);
    EXPECT_EQ(sink.limited, c.limited);
    EXPECT_EQ(stopped, c.limited);
    if (c.kept > 0) {
      EXPECT_EQ(sink.rows.back(), row(std::to_string(c.kept - 1)));
    }
  }
}

}  // namespace
}  // namespace brackwater::velquin
