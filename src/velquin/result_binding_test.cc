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
  std::vector<Identity> out{100};
  b.append_identities(out);  // keeps what the vector held
  EXPECT_EQ(out, (std::vector<Identity>{100, 3, 7, 9}));
}

TEST(ScriptVariables, ManyNamesKeepTheirEntries) {
  ScriptVariables vars;
  ResultBinding* first = &vars.entry("v0");
  for (Identity i = 0; i < 5000; ++i) bind_identity(vars, "v" + std::to_string(i), i + 1);
  bind_identity(vars, "v7", 6);  // a second identity joins the first
  EXPECT_EQ(ids(*vars.find("v7")), (std::vector<Identity>{6, 8}));
  EXPECT_EQ(vars.size(), 5000u);
  EXPECT_EQ(first, vars.find("v0"));  // addresses are stable while the table grows
  for (Identity i = 0; i < 5000; i += 97) EXPECT_EQ(ids(*vars.find("v" + std::to_string(i))), std::vector<Identity>{i + 1});
  EXPECT_EQ(vars.find("v5000"), nullptr);
  // Names too long to sit in an entry are found again after the table grows past them.
  for (Identity i = 0; i < 3000; ++i) bind_identity(vars, "a longer name " + std::to_string(i), i);
  for (Identity i = 0; i < 3000; i += 101) EXPECT_EQ(ids(*vars.find("a longer name " + std::to_string(i))), std::vector<Identity>{i});
  EXPECT_EQ(ids(*vars.find("v4999")), std::vector<Identity>{5000});
  EXPECT_EQ(vars.find(""), nullptr);
  bind_identity(vars, "", 3);
  EXPECT_EQ(ids(*vars.find("")), std::vector<Identity>{3});
}

TEST(ResultBinding, CopiesAreDeep) {
  ResultBinding a;
  a.insert(1);
  a.insert(2);
  ResultBinding b = a;
  b.insert(3);
  EXPECT_EQ(ids(a), (std::vector<Identity>{1, 2}));
  EXPECT_EQ(ids(b), (std::vector<Identity>{1, 2, 3}));
  EXPECT_FALSE(a == b);
  a.insert(3);
  EXPECT_TRUE(a == b);
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
