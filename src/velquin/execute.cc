#include "velquin/execute.h"

namespace brackwater::velquin {

construct::Result<std::vector<ResultSet>> execute_script(std::shared_ptr<construct::Engine>, std::string_view,
                                                         ExecuteOptions) {
  return construct::fail(construct::EngineError::internal("script execution is not available"));
}

}  // namespace brackwater::velquin
