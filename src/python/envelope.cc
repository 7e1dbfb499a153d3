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

uint64_t execute_response_json_size(std::string_view resolved_now, const std::vector<velquin::ResultSet>& sets,
                                    uint64_t sets_bytes) {
  // {"python_interface_version":N,"velquin_version":N,"resolved_now":..,"warnings":[..],"result_sets":[..]}
  uint64_t bytes = 28 + literal::json_u64_size(kPythonInterfaceVersion) + 19 +
                   literal::json_u64_size(kVelquinVersion) + 16 + literal::json_string_size(resolved_now).bytes + 12 +
                   2 + 15 + 2 + sets_bytes + 1;
  if (!sets.empty()) {
    const std::vector<velquin::Warning>& warnings = sets.front().warnings;
    if (!warnings.empty()) bytes += warnings.size() - 1;
    for (const velquin::Warning& warning : warnings) bytes += velquin::warning_json_size(warning).bytes;
  }
  return bytes;
}

}  // namespace brackwater::python
