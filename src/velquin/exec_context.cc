#include "velquin/exec_context.h"

#include <string>

namespace brackwater::velquin {

construct::Result<const ParameterValue*> ExecContext::lookup_parameter(std::string_view written) const {
  std::string_view name = written;
  if (!name.empty() && name.front() == '$') name.remove_prefix(1);
  auto it = parameters.find(name);
  if (it == parameters.end()) {
    return construct::fail(construct::EngineError::invalid_parameter("missing parameter '$" + std::string(name) + "'"));
  }
  return &it->second;
}

}  // namespace brackwater::velquin
