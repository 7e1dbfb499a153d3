#include "velquin/result_set.h"

#include <gtest/gtest.h>

#include <string>

#include "literal/json_writer.h"
#include "velquin/row_sink.h"

namespace brackwater::velquin {
namespace {

std::string json_string(std::string_view text) {
  std::string out;
  literal::append_json_string(out, text);
  return out;
}

TEST(JsonWriter, EscapesExactlyQuotesBackslashesAndControls) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\0\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"/\x7f", "\"/\x7f\""},                          // '/' and DEL stay verbatim
      {"\xe2\x80\xa8\xc3\xa9", "\"\xe2\x80\xa8\xc3\xa9\""},  // U+2028 and non-ASCII verbatim
  };
  for (const auto& c : cases) EXPECT_EQ(json_string(c.in), c.out) << c.in;
}

TEST(JsonWriter, NumbersAndLiterals) {
  std::string out;
  literal::append_json_u64(out, 0);
  out.push_back(',');
  literal::append_json_u64(out, 18446744073709551615ULL);
  out.push_back(',');
  literal::append_json_bool(out, true);
  literal::append_json_bool(out, false);
  literal::append_json_optional_string(out, std::nullopt);
  EXPECT_EQ(out, "0,18446744073709551615,truefalsenull");
}

TEST(ResultSetJson, EmptySet) {
  ResultSet set;
  set.search = "search [*, *, *];";
  std::string out;
  append_result_set_json(out, set);
  EXPECT_EQ(out, R"({"columns":[],"rows":[],"row_count":0,"limited":false,"search":"search [*, *, *];"})");
}

TEST(ResultSetJson, RowsCellsAndAbsentSearch) {
  ResultSet set;
  set.columns = {"p", "v"};
  set.rows = {{{"7", ValueKind::Posit}, {"\"x\"", ValueKind::Literal}, {"8", ValueKind::Thing}},
              {{"{(8, r)}", ValueKind::AppearanceSet}, {"2020", ValueKind::Time}, {"r", ValueKind::Role}}};
  set.row_count = 2;
  set.limited = true;
  set.warnings = {{"w", "m", std::nullopt}};  // not written with the set
  std::string out;
  append_result_set_json(out, set);
  EXPECT_EQ(out,
            R"({"columns":["p","v"],"rows":[[{"kind":"posit","text":"7"},{"kind":"literal","text":"\"x\""},)"
            R"({"kind":"thing","text":"8"}],[{"kind":"appearance_set","text":"{(8, r)}"},{"kind":"time","text":"2020"},)"
            R"({"kind":"role","text":"r"}]],)"
            R"("row_count":2,"limited":true,"search":null})");
}

TEST(BoundedRowSink, ChargesTheScriptsResultBytesForTheRowsItKeeps) {
  ResultBytes bytes;
  const ResultRow row{ResultValue{std::string(size_t{1} << 20, 'x'), ValueKind::Literal}};
  const uint64_t cost = sizeof(ResultRow) + sizeof(ResultValue) + (uint64_t{1} << 20);
  BoundedRowSink limited(1, &bytes);
  ASSERT_EQ(limited.push(row), false);
  ASSERT_EQ(limited.push(row), true);  // refused by the limit: not charged
  EXPECT_EQ(bytes.used(), cost);
  BoundedRowSink sink(std::nullopt, &bytes);
  while (bytes.used() + cost <= kMaxResultBytes) ASSERT_EQ(sink.push(row), false);
  auto refused = sink.push(row);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().display(), "Resource limit exceeded for result bytes: maximum 536870912");
  EXPECT_EQ(sink.rows.size() + 1, kMaxResultBytes / cost);
}

// The kept rows are charged to the statements' budget as well, and given back with the script's
// rows.
TEST(BoundedRowSink, ChargesTheStatementBudgetTooUntilTheScriptsRowsGo) {
  construct::Budget budget({}, 3 << 20);
  const ResultRow row{ResultValue{std::string(size_t{1} << 20, 'x'), ValueKind::Literal}};
  const uint64_t cost = sizeof(ResultRow) + sizeof(ResultValue) + (uint64_t{1} << 20);
  {
    ResultBytes bytes(&budget);
    BoundedRowSink sink(std::nullopt, &bytes);
    ASSERT_EQ(sink.push(row), false);
    ASSERT_EQ(sink.push(row), false);
    auto refused = sink.push(row);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().display(), "Resource limit exceeded for search memory: maximum 3145728");
    EXPECT_EQ(bytes.used(), 2 * cost);
    EXPECT_EQ(budget.held(), 2 * cost);
  }
  EXPECT_EQ(budget.held(), 0u);
}

TEST(WarningJson, WithAndWithoutRewrite) {
  std::string out;
  append_warning_json(out, Warning{"c", "line\nbreak", std::nullopt});
  append_warning_json(out, Warning{"c2", "m", std::string("r")});
  EXPECT_EQ(out, R"({"code":"c","message":"line\nbreak","rewrite":null}{"code":"c2","message":"m","rewrite":"r"})");
}

}  // namespace
}  // namespace brackwater::velquin
