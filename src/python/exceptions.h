// The module's exception classes and the mapping of engine errors onto them.
//
// Twelve classes, each created once per process from the dotted name "_native.<Name>" with no
// docstring: `BrackwaterError` (base: Exception) and eleven direct subclasses of it. Every exception
// raised from an engine error carries exactly one argument, its message. A C++ failure that reaches
// the module boundary is raised as `PanicException` (a BaseException, not exported), never as one
// of the twelve.
#pragma once

#include <string_view>

#include "construct/error.h"
#include "python/host.h"

namespace brackwater::python {

enum class ExceptionClass : int {
  Brackwater = 0,
  Configuration,
  Persistence,
  DataCorruption,
  Parse,
  Execution,
  Cancelled,
  QueryTimeout,
  ResourceLimit,
  InvalidQuery,
  Internal,
  Closed,
};
inline constexpr int kExceptionClassCount = 12;

// The class name, e.g. "ParseError".
const char* exception_class_name(ExceptionClass cls);

// The class object (a borrowed reference), created on first use; nullptr with an exception pending
// when the host refuses to create it.
PyObject* exception_class(ExceptionClass cls);

// The class that engine errors of `kind` raise.
ExceptionClass exception_class_for(construct::ErrorKind kind);

// The Python message of an engine error: its display text, except for parse errors, which show the
// parser's own message with the optional line/column suffix.
std::string python_message(const construct::EngineError& error);

// Sets the pending exception for an engine error.
void raise_engine_error(const construct::EngineError& error);

// Sets a pending exception of one of the twelve classes.
void raise_class(ExceptionClass cls, std::string_view message);

// Sets the pending exception for a C++ failure that reached the module boundary.
void raise_panic(std::string_view message);

}  // namespace brackwater::python
