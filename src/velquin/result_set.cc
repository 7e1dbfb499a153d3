#include "velquin/result_set.h"

#include "literal/json_writer.h"

namespace brackwater::velquin {

std::string_view value_kind_name(ValueKind kind) {
  switch (kind) {
    case ValueKind::Thing: return "thing";
    case ValueKind::Role: return "role";
    case ValueKind::Posit: return "posit";
    case ValueKind::AppearanceSet: return "appearance_set";
    case ValueKind::Literal: return "literal";
    case ValueKind::Time: return "time";
  }
  return "thing";
}

void append_result_value_json(std::string& out, const ResultValue& value) {
  out.append("{\"kind\":\"");
  out.append(value_kind_name(value.kind));
  out.append("\",\"text\":");
  literal::append_json_string(out, value.text);
  out.push_back('}');
}

void append_result_set_json(std::string& out, const ResultSet& set) {
  out.append("{\"columns\":[");
  for (size_t i = 0; i < set.columns.size(); ++i) {
    if (i != 0) out.push_back(',');
    literal::append_json_string(out, set.columns[i]);
  }
  out.append("],\"rows\":[");
  for (size_t r = 0; r < set.rows.size(); ++r) {
    if (r != 0) out.push_back(',');
    out.push_back('[');
    const ResultRow& row = set.rows[r];
    for (size_t c = 0; c < row.size(); ++c) {
      if (c != 0) out.push_back(',');
      append_result_value_json(out, row[c]);
    }
    out.push_back(']');
  }
  out.append("],\"row_count\":");
  literal::append_json_u64(out, set.row_count);
  out.append(",\"limited\":");
  literal::append_json_bool(out, set.limited);
  out.append(",\"search\":");
  literal::append_json_optional_string(out, set.search);
  out.push_back('}');
}

void append_warning_json(std::string& out, const Warning& warning) {
  out.append("{\"code\":");
  literal::append_json_string(out, warning.code);
  out.append(",\"message\":");
  literal::append_json_string(out, warning.message);
  out.append(",\"rewrite\":");
  literal::append_json_optional_string(out, warning.rewrite);
  out.push_back('}');
}

}  // namespace brackwater::velquin
