// Result sets: what a script returns for its searches, and their compact JSON form.
//
// One ResultSet per search statement that yields one. Cells are rendered values with a kind tag.
// The writers append compact JSON to a byte buffer (see json_writer.h for the escaping):
//   result set: {"columns":[..],"rows":[[cell,..],..],"row_count":N,"limited":b,"search":"..."|null}
//   cell:       {"kind":"thing"|"role"|"posit"|"appearance_set"|"literal"|"time","text":"..."}
//   warning:    {"code":"..","message":"..","rewrite":".."|null}
// A set's warnings are not written with the set (the response envelope repeats the first set's).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "literal/json_writer.h"

namespace brackwater::velquin {

enum class ValueKind : uint8_t {
  Thing = 0,
  Role = 1,
  Posit = 2,
  AppearanceSet = 3,
  Literal = 4,
  Time = 5,
};


struct ResultValue {
  std::string text;  // for a Thing or a Posit, its identity in decimal
  ValueKind kind = ValueKind::Thing;

  bool operator==(const ResultValue&) const = default;
};

using ResultRow = std::vector<ResultValue>;

struct Warning {
  std::string code;
  std::string message;
  std::optional<std::string> rewrite;

  bool operator==(const Warning&) const = default;
};

struct ResultSet {
  std::vector<std::string> columns;
  std::vector<ResultRow> rows;
  std::vector<Warning> warnings;
  std::optional<std::string> search;  // the search statement's own text, trimmed
  uint64_t row_count = 0;             // rows kept, after the limit
  bool limited = false;               // the limit refused at least one row

  bool operator==(const ResultSet&) const = default;
};

void append_result_value_json(std::string& out, const ResultValue& value);
void append_result_set_json(std::string& out, const ResultSet& set);
void append_warning_json(std::string& out, const Warning& warning);

// The size of what the writers append, without writing it.
literal::JsonTextSize result_row_json_size(const ResultRow& row);
// A set's JSON with its rows left out (written as `[]`).
literal::JsonTextSize result_set_frame_json_size(const ResultSet& set);
literal::JsonTextSize warning_json_size(const Warning& warning);

}  // namespace brackwater::velquin
