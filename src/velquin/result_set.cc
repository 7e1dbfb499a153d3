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
  out.append("{\"columns\":");
  literal::append_json_string_array(out, set.columns);
  out.append(",\"rows\":");
  literal::append_json_array(out, set.rows, [](std::string& o, const ResultRow& row) {
    literal::append_json_array(o, row, [](std::string& o2, const ResultValue& v) { append_result_value_json(o2, v); });
  });
  out.append(",\"row_count\":");
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
