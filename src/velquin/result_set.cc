#include "velquin/result_set.h"

#include "literal/json_writer.h"

namespace brackwater::velquin {

namespace {

// A cell's JSON up to its text, by kind: {"kind":"..","text":
std::string_view cell_open(ValueKind kind) {
  switch (kind) {
    case ValueKind::Thing: return R"({"kind":"thing","text":)";
    case ValueKind::Role: return R"({"kind":"role","text":)";
    case ValueKind::Posit: return R"({"kind":"posit","text":)";
    case ValueKind::AppearanceSet: return R"({"kind":"appearance_set","text":)";
    case ValueKind::Literal: return R"({"kind":"literal","text":)";
    case ValueKind::Time: return R"({"kind":"time","text":)";
  }
  return R"({"kind":"thing","text":)";
}

}  // namespace

void append_result_value_json(std::string& out, const ResultValue& value) {
  out.append(cell_open(value.kind));
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

using literal::JsonTextSize;

namespace {

// `[` and `]` around `count` items, and the commas between them.
JsonTextSize array_frame_size(size_t count) { return JsonTextSize::ascii(2 + (count == 0 ? 0 : count - 1)); }

JsonTextSize optional_string_size(const std::optional<std::string>& text) {
  return text ? literal::json_string_size(*text) : JsonTextSize::ascii(4);
}

JsonTextSize result_value_json_size(const ResultValue& value) {
  const uint64_t frame = cell_open(value.kind).size() + 1;  // and the closing brace
  // An identity's decimal digits need no escape.
  if (value.kind == ValueKind::Thing || value.kind == ValueKind::Posit) {
    return JsonTextSize::ascii(frame + value.text.size() + 2);
  }
  JsonTextSize size = literal::json_string_size(value.text);
  size += JsonTextSize::ascii(frame);
  return size;
}

}  // namespace

JsonTextSize result_row_json_size(const ResultRow& row) {
  JsonTextSize size = array_frame_size(row.size());
  for (const ResultValue& value : row) size += result_value_json_size(value);
  return size;
}

JsonTextSize result_set_frame_json_size(const ResultSet& set) {
  // {"columns":..,"rows":[],"row_count":..,"limited":..,"search":..}
  JsonTextSize size = JsonTextSize::ascii(11 + 8 + 2 + 13 + 11 + 10 + 1);
  size += array_frame_size(set.columns.size());
  for (const std::string& column : set.columns) size += literal::json_string_size(column);
  size += JsonTextSize::ascii(literal::json_u64_size(set.row_count) + (set.limited ? 4 : 5));
  size += optional_string_size(set.search);
  return size;
}

JsonTextSize warning_json_size(const Warning& warning) {
  // {"code":..,"message":..,"rewrite":..}
  JsonTextSize size = JsonTextSize::ascii(8 + 11 + 11 + 1);
  size += literal::json_string_size(warning.code);
  size += literal::json_string_size(warning.message);
  size += optional_string_size(warning.rewrite);
  return size;
}

}  // namespace brackwater::velquin
