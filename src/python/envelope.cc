#include "python/envelope.h"

#include <span>

#include "python/versions.h"
#include "literal/json_writer.h"

namespace brackwater::python {

void append_execute_response_json(std::string& out, std::string_view resolved_now,
                                  const std::vector<velquin::ResultSet>& sets) {
  out.append("{\"python_interface_version\":");
  literal::append_json_u64(out, kPythonInterfaceVersion);
  out.append(",\"velquin_version\":");
  literal::append_json_u64(out, kVelquinVersion);
  out.append(",\"resolved_now\":");
  literal::append_json_string(out, resolved_now);
  out.append(",\"warnings\":");
  std::span<const velquin::Warning> warnings;
  if (!sets.empty()) warnings = sets.front().warnings;
  literal::append_json_array(out, warnings, [](std::string& o, const velquin::Warning& warning) {
    velquin::append_warning_json(o, warning);
  });
  out.append(",\"result_sets\":");
  literal::append_json_array(out, sets, [](std::string& o, const velquin::ResultSet& set) {
    velquin::append_result_set_json(o, set);
  });
  out.push_back('}');
}

literal::JsonTextSize execute_response_envelope_size(std::string_view resolved_now) {
  // {"python_interface_version":N,"velquin_version":N,"resolved_now":..,"warnings":[],"result_sets":[]}
  literal::JsonTextSize size = literal::JsonTextSize::ascii(
      28 + literal::json_u64_size(kPythonInterfaceVersion) + 19 + literal::json_u64_size(kVelquinVersion) + 16);
  size += literal::json_string_size(resolved_now);
  size += literal::JsonTextSize::ascii(12 + 2 + 15 + 2 + 1);
  return size;
}

}  // namespace brackwater::python
