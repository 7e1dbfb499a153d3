#include "python/envelope.h"

#include <gtest/gtest.h>

namespace brackwater::python {
namespace {

using velquin::ResultSet;
using velquin::ResultValue;
using velquin::ValueKind;
using velquin::Warning;

// The envelope, checked against the size it is reserved by.
std::string execute_response_json(std::string_view resolved_now, const std::vector<ResultSet>& sets) {
  std::string sets_json;
  for (const ResultSet& set : sets) {
    if (!sets_json.empty()) sets_json.push_back(',');
    velquin::append_result_set_json(sets_json, set);
  }
  std::string out;
  append_execute_response_json(out, resolved_now, sets);
  EXPECT_EQ(execute_response_json_size(resolved_now, sets, sets_json.size()), out.size()) << out;
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

}  // namespace
}  // namespace brackwater::python
