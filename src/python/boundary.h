// The module boundary: no C++ exception leaves a method.
//
// `guarded` runs a method body and turns an escaping C++ exception into a pending `PanicException`
// carrying its message. Exhausted memory aborts the process, as a second failure during the
// handling of a first would.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "python/exceptions.h"

namespace brackwater::python {

[[noreturn]] inline void abort_out_of_memory() {
  std::fputs("brackwater: memory exhausted\n", stderr);
  std::abort();
}

template <class Result, class Body>
Result guarded(Result on_failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    abort_out_of_memory();
  } catch (const std::exception& e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
  return on_failure;
}

}  // namespace brackwater::python
