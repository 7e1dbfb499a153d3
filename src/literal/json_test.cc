#include "literal/json.h"

#include <gtest/gtest.h>

namespace brackwater::literal {
namespace {

std::string failure(std::string_view text) {
  auto r = parse_json_literal(text);
  return r ? "ok" : r.error();
}

TEST(JsonLiteral, MessagesAndOffsets) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", "empty or truncated JSON"},
      {"[1, ", "empty or truncated JSON"},
      {R"({"a":1, )", "expected '\"' at JSON byte 8"},
      {"[1,]", "invalid JSON byte ']' at 3"},
      {R"({"a":1} x)", "trailing JSON data at byte 8"},
      {R"({"a":01})", "leading zero in JSON number at byte 5"},
      {R"({"a":-})", "invalid JSON number at byte 5"},
      {" 1.e5", "missing JSON fraction at byte 1"},
      {"[0, -2e+]", "missing JSON exponent at byte 4"},
      {"[.5]", "invalid JSON byte '.' at 1"},
      {"\xC3\xA9", "invalid JSON byte '\xC3\x83' at 0"},  // the byte 0xC3 shown as U+00C3
      {R"({"a":nul})", "invalid JSON token at byte 5"},
      {"nullx", "trailing JSON data at byte 4"},  // a word needs no delimiter; the next reader judges
      {"[truefalse]", "expected ',' at JSON byte 5"},
      {"{a:1}", "expected '\"' at JSON byte 1"},
      {R"({ "a" 1})", "expected ':' at JSON byte 6"},
      {R"({"a")", "expected ':' at JSON byte 4"},
      {R"({"a":1)", "expected ',' at JSON byte 6"},
      {"[1 2]", "expected ',' at JSON byte 3"},
      {R"({"a":1,"\u0061":2})", "duplicate JSON object key 'a'"},
      {R"({"a":1,"a":2,)", "duplicate JSON object key 'a'"},  // found before the later fault
      {R"(["abc)", "unterminated JSON string at byte 1"},
      {R"(["abc\)", "unterminated JSON string at byte 1"},
      {R"(["abc\")", "unterminated JSON string at byte 1"},
      {"[\"\\x\nb\"]", "unescaped JSON control byte at 1"},  // the scan wins over the decoding
      {R"([1, "\x"])", "invalid JSON string at byte 4: invalid escape"},
      {R"(["\ud800"])", "invalid JSON string at byte 1: unexpected end of hex escape"},
      {"[\"\\\n\"]", "invalid JSON string at byte 1: invalid escape"},  // an escaped raw line feed
      {"1e99999999999999999999", "invalid JSON number '1e99999999999999999999': number too large to fit in target type"},
  };
  for (const auto& [text, message] : cases) EXPECT_EQ(failure(text), message) << text;
}

TEST(JsonLiteral, AcceptsAnyTopLevelValue) {
  for (std::string_view ok : {"null", "true", "false", "0", "-0", "-1.5E+3", "\"x\"", "[]", "{}", " [ ] ", "\t{\n}\r",
                              R"({"a":{"b":[1,{"c":null}]},"d":"\u00e9"})", "1e999999999"}) {
    EXPECT_EQ(failure(ok), "ok") << ok;
  }
}

bool equal(std::string_view a, std::string_view b) { return json_equal(*parse_json_literal(a), *parse_json_literal(b)); }

TEST(JsonLiteral, Equality) {
  EXPECT_TRUE(equal(R"({"a":1.0,"b":[1,2]})", R"({"b":[1,2.00],"a":1})"));
  EXPECT_TRUE(equal(R"("\u00e9")", "\"\xC3\xA9\""));
  EXPECT_FALSE(equal("\"\xC3\xA9\"", "\"e\xCC\x81\""));  // no normalisation
  EXPECT_FALSE(equal("[1,2]", "[2,1]"));
  EXPECT_FALSE(equal("{}", "[]"));
  EXPECT_FALSE(equal("null", "false"));
  EXPECT_FALSE(equal("true", "false"));
  EXPECT_FALSE(equal("[1]", "[1,1]"));
  EXPECT_FALSE(equal(R"({"a":1})", R"({"b":1})"));
  EXPECT_FALSE(equal(R"({"a":1})", R"({"a":1,"b":1})"));
  EXPECT_FALSE(equal(R"({"a":[{"b":1}]})", R"({"a":[{"b":2}]})"));
  EXPECT_FALSE(equal("1", "\"1\""));
}

TEST(JsonLiteral, ManyKeysStillFindDuplicates) {
  std::string text = "{";
  for (int i = 0; i < 1000; ++i) text += "\"k" + std::to_string(i) + "\":" + std::to_string(i) + ",";
  std::string ok = text + "\"last\":0}";
  auto tree = parse_json_literal(ok);
  ASSERT_TRUE(tree.has_value());
  EXPECT_EQ(tree->value_count(), 1 + 1001 * 2);
  EXPECT_EQ(failure(text + "\"k500\":0}"), "duplicate JSON object key 'k500'");
  // Members written in reverse order give an equal tree.
  std::string reversed = "{\"last\":0";
  for (int i = 999; i >= 0; --i) reversed += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
  EXPECT_TRUE(json_equal(*tree, *parse_json_literal(reversed + "}")));
}

TEST(JsonLiteral, MillionLevelsOfNesting) {
  constexpr size_t kDepth = 1'000'000;
  std::string arrays = std::string(kDepth, '[') + std::string(kDepth, ']');
  auto a = parse_json_literal(arrays);
  ASSERT_TRUE(a.has_value());
  EXPECT_EQ(a->root_type(), JsonTree::Type::Array);
  EXPECT_TRUE(json_equal(*a, *parse_json_literal(arrays)));

  std::string objects;
  for (size_t i = 0; i < kDepth; ++i) objects += "{\"a\":";
  objects += "1";
  objects += std::string(kDepth, '}');
  auto b = parse_json_literal(objects);
  ASSERT_TRUE(b.has_value());
  EXPECT_FALSE(json_equal(*a, *b));
  std::string other = objects;
  other[other.size() - kDepth - 1] = '2';
  EXPECT_FALSE(json_equal(*b, *parse_json_literal(other)));

  EXPECT_EQ(failure(std::string(kDepth, '[')), "empty or truncated JSON");
  EXPECT_EQ(failure(std::string(kDepth, '[') + "1"), "expected ',' at JSON byte 1000001");
}

}  // namespace
}  // namespace brackwater::literal
