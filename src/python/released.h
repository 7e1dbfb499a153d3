// An engine call made with the interpreter lock released.
//
// `run_released` releases the interpreter lock, calls work(std::move(engine)) and takes the lock
// back before returning what the work returned. The engine hold is moved in: the work may take it
// (a callee that holds it by value drops it inside), and whatever is left of it is dropped after the
// work returns and before the lock is taken back, so that no engine release runs under the lock.
// An exception from the work takes the lock back before it propagates; a hold the work did not take
// is then dropped as the exception leaves, after the lock is back. The work must not touch any
// Python object.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include "construct/engine.h"
#include "python/host.h"

namespace brackwater::python {

template <class Work>
std::invoke_result_t<Work, std::shared_ptr<construct::Engine>&&> run_released(std::shared_ptr<construct::Engine> engine,
                                                                              Work&& work) {
  PyThreadState* thread = PyEval_SaveThread();
  try {
    auto result = std::forward<Work>(work)(std::move(engine));
    engine.reset();
    PyEval_RestoreThread(thread);
    return result;
  } catch (...) {
    PyEval_RestoreThread(thread);
    throw;
  }
}

}  // namespace brackwater::python
