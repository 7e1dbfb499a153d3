#include "python/envelope.h"

#include "python/versions.h"
#include "literal/json_writer.h"

namespace brackwater::python {

std::string execute_response_json(std::string_view resolved_now, const std::vector<velquin::ResultSet>& sets) {
  std::string out;
  out.reserve(128);
  append_execute_response_json(out, resolved_now, sets);
  return out;
}

void append_execute_response_json(std::string& out, std::string_view resolved_now,
                                  const std::vector<velquin::ResultSet>& sets) {
  out.append("{\"python_interface_version\":");
  literal::append_json_u64(out, kPythonInterfaceVersion);
  out.append(",\"velquin_version\":");
  literal::append_json_u64(out, kVelquinVersion);
  out.append(",\"resolved_now\":");
  literal::append_json_string(out, resolved_now);
  out.append(",\"warnings\":[");
  if (!sets.empty()) {
    bool first = true;
    for (const velquin::Warning& warning : sets.front().warnings) {
      if (!first) out.push_back(',');
      first = false;
      velquin::append_warning_json(out, warning);
    }
  }
  out.append("],\"result_sets\":[");
  bool first = true;
  for (const velquin::ResultSet& set : sets) {
    if (!first) out.push_back(',');
    first = false;
    velquin::append_result_set_json(out, set);
  }
  out.append("]}");
}

}  // namespace brackwater::python
