#include "velquin/result_set.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "literal/json_writer.h"
#include "literal/unicode.h"
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

// The size of written JSON measured on the text: bytes, characters, and the widest one's class
// by its code point.
literal::JsonTextSize measure(std::string_view json) {
  literal::JsonTextSize size{json.size(), 0, 1};
  for (size_t i = 0; i < json.size();) {
    const size_t length = literal::utf8_sequence_at(json, i).length;
    EXPECT_NE(length, 0u) << json;
    if (length == 0) break;
    uint32_t cp = static_cast<unsigned char>(json[i]) & (0xFF >> (length == 1 ? 0 : length + 1));
    for (size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(json[i + k]) & 0x3F);
    const uint8_t width = cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4;
    if (width > size.width) size.width = width;
    ++size.chars;
    i += length;
  }
  return size;
}

void expect_size(const literal::JsonTextSize& size, std::string_view json) {
  const literal::JsonTextSize measured = measure(json);
  EXPECT_EQ(size.bytes, measured.bytes) << json;
  EXPECT_EQ(size.chars, measured.chars) << json;
  EXPECT_EQ(size.width, measured.width) << json;
}

// The string writer as one loop over bytes.
std::string reference_json_string(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out + "\"";
}

// The writers agree with a byte-by-byte writer, and the sizes they report with what they write, on
// random sets whose special bytes and characters of every width fall at every offset of the
// scanned blocks.
TEST(JsonWriter, SizesAgreeWithTheWrittenText) {
  std::mt19937 random(5);
  const std::string pieces[] = {"\"", "\\", std::string(1, '\0'), "\x01", "\n", "\x7f", "\xc2\x80", "\xc3\xbf",
                                "\xc4\x80", "\xdf\xbf", "\xe2\x82\xac", "\xef\xbf\xbf", "\xf0\x9f\x98\x80"};
  auto text = [&] {
    std::string out;
    const size_t length = random() % 30;
    for (size_t i = 0; i < length; ++i) {
      out += random() % 5 != 0 ? std::string(1, char('a' + random() % 26)) : pieces[random() % std::size(pieces)];
    }
    EXPECT_EQ(json_string(out), reference_json_string(out));
    return out;
  };
  for (int round = 0; round < 2000; ++round) {
    ResultSet set;
    for (size_t c = random() % 3; c > 0; --c) set.columns.push_back(text());
    for (size_t r = random() % 4; r > 0; --r) {
      ResultRow row;
      for (size_t c = random() % 3; c > 0; --c) {
        const auto kind = ValueKind(random() % 6);
        const bool identity = kind == ValueKind::Thing || kind == ValueKind::Posit;
        row.push_back(ResultValue{identity ? std::to_string(random()) : text(), kind});
      }
      std::string json;
      literal::append_json_array(json, row, [](std::string& o, const ResultValue& v) { append_result_value_json(o, v); });
      expect_size(result_row_json_size(row), json);
      set.rows.push_back(std::move(row));
    }
    set.row_count = random() % 2 == 0 ? set.rows.size() : random();
    set.limited = random() % 2 == 0;
    if (random() % 2 == 0) set.search = text();
    std::string json;
    append_result_set_json(json, set);
    literal::JsonTextSize size = result_set_frame_json_size(set);
    if (!set.rows.empty()) size += literal::JsonTextSize::ascii(set.rows.size() - 1);
    for (const ResultRow& row : set.rows) size += result_row_json_size(row);
    expect_size(size, json);
    const Warning warning{text(), text(), random() % 2 == 0 ? std::optional(text()) : std::nullopt};
    json.clear();
    append_warning_json(json, warning);
    expect_size(warning_json_size(warning), json);
  }
}

// The response counts as its rows are kept: text that doubles when escaped, or whose one wide
// character widens every character of the host's text, reaches the limit before the rows do.
TEST(BoundedRowSink, ChargesTheResponseAsTheCallerReceivesIt) {
  struct Case {
    std::string text;
    uint64_t rows_kept;
  };
  const uint64_t mib = uint64_t{1} << 20;
  const Case cases[] = {
      {std::string(mib, '"'), 255},                               // 2 MiB of JSON a row
      {std::string(mib - 4, '\\') + "\xf0\x9f\x98\x80", 63},  // 2 Mi characters of 4 bytes
      {std::string(mib / 2, 'x') + "\xc4\x80", 511},           // 2 bytes a character
  };
  for (const Case& c : cases) {
    ResultBytes bytes;
    BoundedRowSink sink(std::nullopt, &bytes);
    const ResultRow row{ResultValue{c.text, ValueKind::Literal}};
    construct::Result<bool> pushed = false;
    while ((pushed = sink.push(row)) && !*pushed) {
    }
    ASSERT_FALSE(pushed);
    EXPECT_EQ(pushed.error().display(), "Resource limit exceeded for result bytes: maximum 536870912");
    EXPECT_EQ(sink.rows.size(), c.rows_kept) << c.text.size();
    EXPECT_LE(bytes.response().bytes, kMaxResultBytes);
    EXPECT_LE(bytes.response().chars * bytes.response().width, kMaxResultBytes);
  }
  // A set's columns and search text count too.
  ResultBytes bytes;
  ResultSet set;
  set.search = std::string(kMaxResultBytes / 2, '"');
  EXPECT_FALSE(bytes.charge_frame(set, true));
  EXPECT_EQ(bytes.response().bytes, 0u);
}

// The response's text as written: the sets and their rows with a comma between two, and the first
// set's warnings, which the envelope repeats.
TEST(BoundedRowSink, CountsTheSetsTheirRowsAndTheFirstSetsWarningsAsWritten) {
  ResultBytes bytes;
  std::vector<ResultSet> sets(3);
  sets[0].warnings = {Warning{"c", "m\x01", std::nullopt}, Warning{"d", "\xc3\xa9", "r"}};
  sets[2].warnings = {Warning{"e", "not repeated", std::nullopt}};
  std::string json;
  for (size_t i = 0; i < sets.size(); ++i) {
    BoundedRowSink sink(std::nullopt, &bytes);
    for (size_t n = 0; n < i; ++n) ASSERT_EQ(sink.push(ResultRow{ResultValue{"\"x", ValueKind::Literal}}), false);
    sets[i].columns = {"v"};
    sets[i].rows = std::move(sink.rows);
    sets[i].row_count = sets[i].rows.size();
    ASSERT_TRUE(bytes.charge_frame(sets[i], i == 0));
    if (i > 0) json.push_back(',');
    append_result_set_json(json, sets[i]);
  }
  for (const Warning& warning : sets[0].warnings) append_warning_json(json, warning);
  EXPECT_EQ(bytes.response().bytes, json.size() + 1) << json;  // and the comma between the warnings
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
