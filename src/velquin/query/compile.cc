#include "velquin/query/compile.h"

namespace brackwater::velquin::query {

construct::Result<CompiledSearch> compile_search(const Pair&, const ExecContext&) {
  return construct::fail(construct::EngineError::internal("search compilation is not available"));
}

}  // namespace brackwater::velquin::query
