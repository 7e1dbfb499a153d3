#include "velquin/result_binding.h"

#include <gtest/gtest.h>

namespace brackwater::velquin {
namespace {

std::vector<Identity> ids(const ResultBinding& b) { return *result_set_binding(b); }

TEST(ResultBinding, InsertGrowsEmptySingleMulti) {
  ResultBinding b;
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(ids(b), std::vector<Identity>{});
  b.insert(7);
  EXPECT_EQ(b.size(), 1u);
  b.insert(7);
  EXPECT_EQ(ids(b), std::vector<Identity>{7});
  b.insert(9);
  b.insert(3);
  b.insert(9);
  EXPECT_EQ(b.size(), 3u);
  EXPECT_EQ(ids(b), (std::vector<Identity>{3, 7, 9}));  // ascending
}

TEST(ResultBinding, AppendKeepsEarlierEntries) {
  ResultBinding b;
  b.insert(5);
  b.insert(2);
  std::vector<Identity> out{100};
  b.append_identities(out);
  b.append_identities(out);
  EXPECT_EQ(out, (std::vector<Identity>{100, 2, 5, 2, 5}));
}

TEST(ScriptVariables, BindIdentityCreatesAndAdds) {
  ScriptVariables vars;
  bind_identity(vars, "x", 6);
  bind_identity(vars, "x", 8);
  bind_identity(vars, "y", 1);
  ASSERT_EQ(vars.size(), 2u);
  EXPECT_EQ(ids(vars.find(std::string_view("x"))->second), (std::vector<Identity>{6, 8}));
}

TEST(VariableKinds, ConflictNamesRecordedKindFirst) {
  VariableKinds kinds;
  ASSERT_TRUE(kinds.record("a", BinderKind::Thing));
  ASSERT_TRUE(kinds.record("a", BinderKind::Thing));
  ASSERT_TRUE(kinds.record("p", BinderKind::Posit));
  auto err = kinds.record("a", BinderKind::Posit);
  ASSERT_FALSE(err);
  EXPECT_EQ(err.error().display(), "Query variable 'a' has incompatible domains: Thing and Posit");
  EXPECT_EQ(kinds.record("p", BinderKind::Thing).error().display(),
            "Query variable 'p' has incompatible domains: Posit and Thing");
  EXPECT_EQ(kinds.find("a"), BinderKind::Thing);
  EXPECT_EQ(kinds.find("zz"), std::nullopt);
}

}  // namespace
}  // namespace brackwater::velquin
