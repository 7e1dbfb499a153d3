#include "python/envelope.h"

#include <gtest/gtest.h>

#include "velquin/row_sink.h"
#include "velquin/script_test_util.h"

namespace brackwater::python {
namespace {

using literal::JsonTextSize;
using velquin::ResultSet;
using velquin::ResultValue;
using velquin::ValueKind;
using velquin::Warning;

uint64_t code_points(std::string_view text) {
  uint64_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// The envelope, checked against its size: the envelope's own and the items of its two arrays.
std::string execute_response_json(std::string_view resolved_now, const std::vector<ResultSet>& sets) {
  std::string items;
  for (const ResultSet& set : sets) {
    if (!items.empty()) items.push_back(',');
    velquin::append_result_set_json(items, set);
  }
  if (!sets.empty()) {
    for (size_t i = 0; i < sets.front().warnings.size(); ++i) {
      if (i > 0) items.push_back(',');
      velquin::append_warning_json(items, sets.front().warnings[i]);
    }
  }
  std::string out;
  append_execute_response_json(out, resolved_now, sets);
  const JsonTextSize envelope = execute_response_envelope_size(resolved_now);
  EXPECT_EQ(envelope.bytes + items.size(), out.size()) << out;
  EXPECT_EQ(envelope.chars + code_points(items), code_points(out)) << out;
  return out;
}

TEST(ExecuteResponseJson, WithoutResultSets) {
  EXPECT_EQ(execute_response_json("2020-01-01 10:00:00.120", {}),
            "{\"python_interface_version\":1,\"velquin_version\":1,\"resolved_now\":\"2020-01-01 10:00:00.120\","
            "\"warnings\":[],\"result_sets\":[]}");
}

TEST(ExecuteResponseJson, RepeatsTheFirstSetsWarnings) {
  ResultSet first;
  first.columns = {"p"};
  first.rows = {{ResultValue{"7", ValueKind::Posit}}};
  first.row_count = 1;
  first.warnings = {Warning{"w1", "first \"warning\"", std::nullopt}, Warning{"w2", "second", "x"}};
  ResultSet second;
  second.warnings = {Warning{"w3", "not repeated", std::nullopt}};

  std::string sets;
  velquin::append_result_set_json(sets, first);
  sets.push_back(',');
  velquin::append_result_set_json(sets, second);
  std::string warnings;
  velquin::append_warning_json(warnings, first.warnings[0]);
  warnings.push_back(',');
  velquin::append_warning_json(warnings, first.warnings[1]);

  EXPECT_EQ(execute_response_json("BOT", {first, second}),
            "{\"python_interface_version\":1,\"velquin_version\":1,\"resolved_now\":\"BOT\",\"warnings\":[" +
                warnings + "],\"result_sets\":[" + sets + "]}");
}

TEST(ExecuteResponseJson, SizedExactly) {
  ResultSet set;
  set.columns = {"v", "w\"x"};
  set.rows = {{ResultValue{"\"\xc3\xa9\\\n", ValueKind::Literal}, ResultValue{"8", ValueKind::Thing}}, {}};
  set.row_count = 12345678901234;
  set.warnings = {Warning{"c", "m\x01", std::nullopt}};
  execute_response_json("2020-01-01 10:00:00.120", {set});
  execute_response_json("2020", {set, ResultSet{}, set});
}

TEST(ExecuteResponseJson, EscapesTheResolvedNow) {
  // Display texts never need escapes, but the writer must not trust that.
  EXPECT_NE(execute_response_json("a\"b", {}).find(",\"resolved_now\":\"a\\\"b\",\"warnings\""), std::string::npos);
}

// What a script's run counts of its response, the envelope included, is the written text: an
// envelope that leaves the sets exactly their room answers, one byte more is refused.
class ExecuteResponseLimit : public velquin::testing::MemoryScriptTest {};

TEST_F(ExecuteResponseLimit, CountsTheEnvelope) {
  ASSERT_TRUE(execute("add role r; add posit [{(+t, r)}, \"a\\\"\xc3\xa9\", '2020'], [{(+u, r)}, 2, '2020'];"));
  const std::string script = "search [{(?t, r)}, ?v, *] return ?t, ?v; search [{(?t, r)}, *, '1999'] return ?t;";
  const std::string now = velquin::testing::kScriptNow.display();
  uint64_t counted = 0;
  velquin::ExecuteOptions options;
  options.response_envelope = execute_response_envelope_size(now);
  options.response_json_bytes = &counted;
  auto sets = execute(script, std::move(options));
  ASSERT_TRUE(sets) << sets.error().display();
  std::string json;
  append_execute_response_json(json, now, *sets);
  EXPECT_EQ(counted, json.size());

  for (const uint64_t over : {0, 1}) {
    velquin::ExecuteOptions padded;
    padded.response_envelope = JsonTextSize::ascii(velquin::kMaxResultBytes - json.size() + over);
    padded.response_envelope += execute_response_envelope_size(now);
    EXPECT_EQ(outcome(script, std::move(padded)),
              over == 0 ? "ok" : "Resource limit exceeded for result bytes: maximum 536870912");
  }
  // The host's text: one character beyond U+FFFF in the envelope makes every character four bytes.
  for (const uint64_t over : {0, 1}) {
    velquin::ExecuteOptions wide;
    wide.response_envelope = JsonTextSize{4, 1, 4};
    wide.response_envelope += JsonTextSize::ascii(velquin::kMaxResultBytes / 4 - code_points(json) + over - 1);
    wide.response_envelope += execute_response_envelope_size(now);
    EXPECT_EQ(outcome(script, std::move(wide)),
              over == 0 ? "ok" : "Resource limit exceeded for result bytes: maximum 536870912");
  }
}

}  // namespace
}  // namespace brackwater::python
