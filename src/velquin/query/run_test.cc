// The search run's parts: the merge sort under comparisons that are not orders, the predicate
// operator table, ORDER BY keys, and the or-add fallback's product.
#include "velquin/query/run.h"

#include <gtest/gtest.h>

#include <random>

#include "velquin/fallback.h"
#include "velquin/merge_sort.h"
#include "velquin/query/order.h"
#include "velquin/query/predicate.h"

namespace brackwater::velquin::query {
namespace {

using construct::Appearance;
using construct::AppearanceSet;
using construct::Role;
using literal::LiteralKind;

TEST(MergeSortTest, PermutationWhateverTheComparisonAnswersAndStableForOrders) {
  std::mt19937 random(7);
  for (size_t n : {0, 1, 2, 3, 17, 64, 1000}) {
    std::vector<size_t> items(n);
    for (size_t i = 0; i < n; ++i) items[i] = i;
    stable_merge_sort(items, [&](size_t, size_t) { return random() % 2 == 0; });  // no order at all
    std::vector<size_t> sorted = items;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(sorted[i], i) << n;
  }
  // A real order on keys with many ties: ties keep their input order.
  std::vector<std::pair<int, size_t>> pairs;
  for (size_t i = 0; i < 500; ++i) pairs.emplace_back(static_cast<int>(random() % 7), i);
  stable_merge_sort(pairs, [](const auto& a, const auto& b) { return a.first < b.first; });
  for (size_t i = 1; i < pairs.size(); ++i) {
    ASSERT_TRUE(pairs[i - 1].first < pairs[i].first ||
                (pairs[i - 1].first == pairs[i].first && pairs[i - 1].second < pairs[i].second));
  }
}

// Records and values that rows point at.
struct Values {
  Role r{"r", 11}, r_again{"r", 11}, s{"s", 12};
  Appearance a{&r, 8}, a_again{&r_again, 8}, b{&s, 9};
  AppearanceSet set_ab{{&a, &b}}, set_ab_again{{&a_again, &b}}, set_a{{&a}};
  Literal one{"1", LiteralKind::Integer}, one_dec{"1.0", LiteralKind::Decimal}, one_dec2{"1.00", LiteralKind::Decimal},
      two{"2", LiteralKind::Integer}, half{"50%", LiteralKind::Certainty}, str_a{"\"a\"", LiteralKind::String},
      str_b{"\"b\"", LiteralKind::String};
  TimeValue y2019 = TimeValue::of_year(2019), y2020 = TimeValue::of_year(2020),
            d0501 = TimeValue::of_date(2020, 5, 1), bot = TimeValue::bot(), eot = TimeValue::eot();
};

TEST(PredicateTest, OperatorTable) {
  Values v;
  struct Case {
    BoundSlot left;
    std::string op;
    PredicateOperand right;  // a Var names slot 1, which holds `right_slot`
    BoundSlot right_slot;
    std::string expected;  // "true", "false" or the error's display
  };
  const Var rv{"b", 1};
  const std::string identity_only = "Unsupported comparison: identity values support equality only";
  const std::vector<Case> cases = {
      {ThingValue{5}, "=", rv, PositValue{5}, "true"},
      {PositValue{5}, "?=", rv, ThingValue{6}, "false"},
      {ThingValue{5}, "<", rv, ThingValue{6}, identity_only},
      {&v.r, "===", rv, &v.r_again, "true"},
      {&v.r, "=", rv, &v.s, "false"},
      {&v.r, ">=", rv, &v.s, identity_only},
      {&v.set_ab, "=", rv, &v.set_ab_again, "true"},
      {&v.set_ab, "?=", rv, &v.set_a, "false"},
      {&v.set_ab, "<", rv, &v.set_a, "Unsupported comparison: appearance sets support equality only"},
      {&v.one, "=", v.one_dec, {}, "true"},
      {&v.one_dec, "?=", rv, &v.one_dec2, "true"},
      {&v.one_dec, "===", rv, &v.one_dec2, "false"},
      {&v.one, "<", v.two, {}, "true"},
      {&v.two, ">=", rv, &v.two, "true"},
      {&v.two, "<=", v.one_dec, {}, "false"},
      {&v.one, "==", v.two, {}, "Unsupported comparison: unknown operator '=='"},
      {&v.str_a, "=", v.one, {}, "Unsupported comparison: unsupported nominal comparison between String and Integer"},
      {&v.str_a, "<", v.str_b, {},
       "Unsupported comparison: Ordering comparison not allowed: ordering is unsupported between String and String"},
      {&v.one, "<", rv, &v.half,
       "Unsupported comparison: Ordering comparison not allowed: ordering is unsupported between Integer and "
       "Certainty; certainty comparisons require a percent sign (%) on both sides"},
      {v.y2020, "?=", v.d0501, {}, "true"},  // the year contains the date: overlap, neither before nor after
      {v.y2020, "<", v.d0501, {}, "false"},
      {v.y2020, ">", v.d0501, {}, "false"},
      {v.y2020, "=", rv, v.d0501, "false"},
      {v.y2019, "<", v.y2020, {}, "true"},
      {v.y2020, ">=", v.y2019, {}, "true"},
      {v.bot, "<=", v.bot, {}, "true"},
      {v.eot, "===", rv, v.eot, "true"},
      {v.y2020, "~", v.y2020, {}, "Unsupported comparison: unknown operator '~'"},
      {&v.one, "=", v.y2020, {}, "Unsupported comparison: LiteralValue = Time is unsupported"},
      {ThingValue{1}, "=", v.one, {}, "Unsupported comparison: Thing = LiteralValue is unsupported"},
      {{}, "=", rv, {}, "Unknown variable: a"},  // the left name first
      {ThingValue{1}, "=", rv, {}, "Unknown variable: b"},
  };
  for (const Case& c : cases) {
    const std::vector<BoundSlot> row = {c.left, c.right_slot};
    auto got = evaluate_predicate(Predicate{Var{"a", 0}, c.op, c.right}, row);
    const std::string text = got ? (*got ? "true" : "false") : got.error().display();
    EXPECT_EQ(text, c.expected) << "op " << c.op << " left index " << c.left.index();
  }
}

TEST(OrderTest, ChecksItemMajorAndSortsByKind) {
  Values v;
  const Var x{"x", 0}, y{"y", 1};
  const ExecContext ctx{std::nullopt, {}, TimeValue::bot(), std::nullopt, make_cancel_flag(), {}};
  RowTable table(2);
  auto add = [&](BoundSlot a, BoundSlot b) { ASSERT_TRUE(table.push(std::vector<BoundSlot>{a, b})); };
  add(&v.two, v.d0501);
  add(&v.half, v.y2020);
  add(&v.one, v.eot);
  add(&v.one_dec, v.bot);
  add(&v.str_a, {});  // `UnknownVariable` on ?y comes only after every ?x check
  std::vector<size_t> rows = {0, 1, 2, 3, 4};
  auto failed = order_permutation(table, rows, {{x}, {y}}, ctx);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().display(), "Unsupported comparison: ORDER BY is unsupported for String literals");
  failed = order_permutation(table, rows, {{y}, {x}}, ctx);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().display(), "Unknown variable: y");

  rows = {0, 1, 2, 3};
  // Times structurally: BOT, EOT, years, dates.
  EXPECT_EQ(*order_permutation(table, rows, {{y}}, ctx), (std::vector<size_t>{3, 2, 1, 0}));
  // 2, 50%, 1, 1.0: numbers ascend among themselves, the certainty is equal to all of them and the
  // tie 1 = 1.0 keeps its order; descending reverses only the decided pairs.
  EXPECT_EQ(*order_permutation(table, rows, {{x}}, ctx), (std::vector<size_t>{2, 3, 0, 1}));
  EXPECT_EQ(*order_permutation(table, rows, {{x, true}}, ctx), (std::vector<size_t>{0, 1, 2, 3}));
  // A second item decides the tie of the first.
  EXPECT_EQ(*order_permutation(table, {{2, 3}}, {{x}, {y, true}}, ctx), (std::vector<size_t>{0, 1}));
  EXPECT_EQ(*order_permutation(table, {{2, 3}}, {{x}, {y}}, ctx), (std::vector<size_t>{1, 0}));

  // Asked for the first rows only, it gives the first rows of the whole order: with one key kind per
  // item (times; numbers with ties and a second item) and with numbers beside a certainty.
  for (size_t i = 0; i < 40; ++i) add(i % 3 == 0 ? &v.one : i % 3 == 1 ? &v.two : &v.one_dec, i % 2 ? v.eot : v.y2019);
  std::vector<size_t> many(table.size() - 5);
  for (size_t i = 0; i < many.size(); ++i) many[i] = i + 5;
  for (const std::vector<OrderItem>& items : {std::vector<OrderItem>{{y}}, {{x, true}, {y}}, {{y, true}, {x}}}) {
    for (const std::vector<size_t>& of : {many, rows}) {
      const std::vector<size_t> all = *order_permutation(table, of, items, ctx);
      for (size_t keep = 1; keep <= of.size(); keep += 3) {
        EXPECT_EQ(*order_permutation(table, of, items, ctx, keep),
                  std::vector<size_t>(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(keep)));
      }
    }
  }
}

// The keys are charged to the statement's budget before they are made; an item that repeats a
// variable takes no keys of its own.
TEST(OrderTest, KeysAreChargedBeforeTheyAreMadeAndRepeatedItemsTakeNone) {
  Values v;
  const Var x{"x", 0}, y{"y", 1};
  RowTable table(2);
  std::vector<size_t> rows;
  for (size_t i = 0; i < 1000; ++i) {
    ASSERT_TRUE(table.push(std::vector<BoundSlot>{ThingValue{1000 - i}, v.y2020}));
    rows.push_back(i);
  }
  const ExecContext small(std::nullopt, {}, TimeValue::bot(), std::nullopt, make_cancel_flag(), {}, 64 << 10);
  auto refused = order_permutation(table, rows, {{x}, {y}}, small);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().display(), "Resource limit exceeded for search memory: maximum 65536");
  EXPECT_EQ(small.budget().held(), 0u);
  auto sorted = order_permutation(table, rows, std::vector<OrderItem>(500, OrderItem{x}), small);
  ASSERT_TRUE(sorted);
  EXPECT_EQ(sorted->front(), 999u);
  EXPECT_EQ(sorted->back(), 0u);
  EXPECT_EQ(small.budget().held(), 0u);
}

TEST(RowTableTest, RefusesTheRowPastItsLimitWhichWideRowsLower) {
  EXPECT_EQ(max_search_rows(3), kMaxSearchRows);
  EXPECT_EQ(max_search_rows(4), 7'500'000u);
  RowTable table(0);
  for (size_t i = 0; i < kMaxSearchRows; ++i) ASSERT_TRUE(table.push({}));
  EXPECT_EQ(table.push({}).error().display(), "Resource limit exceeded for search rows: maximum 10000000");
  RowTable one(0);
  ASSERT_TRUE(one.push({}));
  EXPECT_FALSE(table.append(one));
  EXPECT_EQ(table.size(), kMaxSearchRows);
}

class FallbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (Identity id : {5, 3}) bind_identity(variables, "a", id);
    for (Identity id : {9, 7, 8}) bind_identity(variables, "b", id);
    variables.entry("empty");
  }
  // The rows as "a b ..." texts (kind initials: t thing, p posit).
  std::vector<std::string> rows(const FallbackProjection& projection, std::optional<uint64_t> limit = std::nullopt,
                                std::string* error = nullptr) {
    BoundedRowSink sink(limit);
    auto r = bind_or_add_fallback(variables, projection, sink, ctx);
    if (error) *error = r ? "ok" : r.error().display();
    limited = sink.limited;
    std::vector<std::string> out;
    for (const ResultRow& row : sink.rows) {
      std::string line;
      for (const ResultValue& cell : row) {
        line += (line.empty() ? "" : " ") + cell.text + (cell.kind == ValueKind::Posit ? "p" : "t");
      }
      out.push_back(line);
    }
    return out;
  }
  ScriptVariables variables;
  ExecContext ctx{std::nullopt, {}, TimeValue::bot(), std::nullopt, make_cancel_flag(), {}};
  bool limited = false;
};

TEST_F(FallbackTest, OdometerProductDistinctOrderAndLimit) {
  using V = std::vector<std::string>;
  FallbackProjection p{{"a", "b"}, {1, 0, 0}, {ValueKind::Posit, ValueKind::Thing, ValueKind::Thing}, {}, false};
  EXPECT_EQ(rows(p), (V{"7p 3t 3t", "8p 3t 3t", "9p 3t 3t", "7p 5t 5t", "8p 5t 5t", "9p 5t 5t"}));
  EXPECT_EQ(rows(p, 4).size(), 4u);
  EXPECT_TRUE(limited);
  EXPECT_EQ(rows(p, 6).size(), 6u);
  EXPECT_FALSE(limited);
  p.order_keys = {{1, true}};  // by b descending; ties keep the odometer order
  EXPECT_EQ(rows(p), (V{"9p 3t 3t", "9p 5t 5t", "8p 3t 3t", "8p 5t 5t", "7p 3t 3t", "7p 5t 5t"}));
  p = FallbackProjection{{"a", "b"}, {0}, {ValueKind::Thing, ValueKind::Thing}, {{1, true}}, true};
  EXPECT_EQ(rows(p), (V{"3t", "5t"}));  // distinct first, then ordered by a column not shown
  EXPECT_EQ(rows(FallbackProjection{}), V{});
}

// A combination is kept as its number: without an order the rows stream whatever the product's
// width; sorted, the numbers are charged to the budget before they are made.
TEST_F(FallbackTest, AProductIsKeptAsCombinationNumbersChargedToTheBudget) {
  for (Identity id = 100; id < 2100; ++id) {
    bind_identity(variables, "x", id);
    bind_identity(variables, "y", id);
  }
  const ExecContext small(std::nullopt, {}, TimeValue::bot(), std::nullopt, make_cancel_flag(), {}, 16 << 20);
  FallbackProjection p{{"x", "y"}, {0, 1, 0}, {ValueKind::Thing, ValueKind::Thing, ValueKind::Posit}, {}, false};
  BoundedRowSink streamed(2);
  ASSERT_TRUE(bind_or_add_fallback(variables, p, streamed, small));
  ASSERT_EQ(streamed.rows.size(), 2u);
  EXPECT_EQ(streamed.rows[1][0].text + " " + streamed.rows[1][1].text + " " + streamed.rows[1][2].text, "100 101 100");
  EXPECT_TRUE(streamed.limited);
  p.order_keys = {{1, true}};  // 4,000,000 numbers of 8 bytes
  BoundedRowSink sorted(2);
  auto refused = bind_or_add_fallback(variables, p, sorted, small);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().display(), "Resource limit exceeded for search memory: maximum 16777216");
  EXPECT_TRUE(sorted.rows.empty());
  EXPECT_EQ(small.budget().held(), 0u);
}

TEST_F(FallbackTest, UnknownThenEmptyBindingsPushNothing) {
  std::string error;
  FallbackProjection p{{"a", "empty", "c"}, {0}, {ValueKind::Thing}, {}, false};
  EXPECT_TRUE(rows(p, std::nullopt, &error).empty());
  EXPECT_EQ(error, "Unknown variable: c");
  p.variables = {"a", "empty"};
  EXPECT_TRUE(rows(p, std::nullopt, &error).empty());
  EXPECT_EQ(error, "Execution error: or-add fallback produced an empty returned binding");
  // A product past the bound is refused before a row is built.
  for (Identity id = 100; id < 4100; ++id) {
    bind_identity(variables, "x", id);
    bind_identity(variables, "y", id);
  }
  p.variables = {"x", "y"};
  EXPECT_TRUE(rows(p, 1, &error).empty());
  EXPECT_EQ(error, "Resource limit exceeded for add posit combinations: maximum 10000000");
}

}  // namespace
}  // namespace brackwater::velquin::query
