#include "python/exceptions.h"

#include <string>

namespace brackwater::python {
namespace {

using construct::ErrorKind;

constexpr const char* kNames[kExceptionClassCount] = {
    "BrackwaterError",    "ConfigurationError", "PersistenceError",    "DataCorruptionError",
    "ParseError",         "ExecutionError",     "CancelledError",      "QueryTimeoutError",
    "ResourceLimitError", "InvalidQueryError",  "InternalError",       "ClosedError",
};

// Process-wide cells. They are filled with the interpreter lock held and without releasing it in
// between, so no two threads can create the same class.
PyObject* g_classes[kExceptionClassCount] = {};
PyObject* g_panic = nullptr;

PyObject* create_class(const char* name, PyObject* base) {
  std::string dotted = "_native.";
  dotted.append(name);
  PyObject* cls = PyErr_NewExceptionWithDoc(dotted.c_str(), nullptr, base, nullptr);
  if (cls != nullptr) return cls;
  // Refusal is fatal to the import: raise it as a panic that names the host's error.
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  std::string message = "Failed to initialize new exception type.";
  if (value != nullptr) {
    PyRef text(PyObject_Str(value));
    PyRef bytes(text ? PyUnicode_AsUTF8String(text.get()) : nullptr);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (bytes && PyBytes_AsStringAndSize(bytes.get(), &data, &size) == 0) {
      message.append(": ").append(data, static_cast<size_t>(size));
    }
  }
  PyErr_Clear();
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  raise_panic(message);
  return nullptr;
}

}  // namespace

const char* exception_class_name(ExceptionClass cls) { return kNames[static_cast<int>(cls)]; }

PyObject* exception_class(ExceptionClass cls) {
  const int index = static_cast<int>(cls);
  if (g_classes[index] != nullptr) return g_classes[index];
  PyObject* base = PyExc_Exception;
  if (cls != ExceptionClass::Brackwater) {
    base = exception_class(ExceptionClass::Brackwater);
    if (base == nullptr) return nullptr;
  }
  g_classes[index] = create_class(kNames[index], base);
  return g_classes[index];
}

ExceptionClass exception_class_for(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::Config: return ExceptionClass::Configuration;
    case ErrorKind::Persistence: return ExceptionClass::Persistence;
    case ErrorKind::DataCorruption: return ExceptionClass::DataCorruption;
    case ErrorKind::Parse: return ExceptionClass::Parse;
    case ErrorKind::Execution: return ExceptionClass::Execution;
    case ErrorKind::Cancelled: return ExceptionClass::Cancelled;
    case ErrorKind::TimedOut: return ExceptionClass::QueryTimeout;
    case ErrorKind::ResourceLimit: return ExceptionClass::ResourceLimit;
    case ErrorKind::UnknownRole:
    case ErrorKind::InvalidAppearanceSet:
    case ErrorKind::UnknownVariable:
    case ErrorKind::IncompatibleDomains:
    case ErrorKind::InvalidQueryRecall:
    case ErrorKind::UnsupportedComparison:
    case ErrorKind::InvalidParameter: return ExceptionClass::InvalidQuery;
    case ErrorKind::Internal:
    case ErrorKind::LockPoisoned: return ExceptionClass::Internal;
  }
  return ExceptionClass::Internal;
}

std::string python_message(const construct::EngineError& error) {
  if (error.kind() != ErrorKind::Parse) return error.display();
  std::string message = error.message();
  if (const auto line = error.line()) {
    message.append(" at line ").append(std::to_string(*line));
    if (const auto column = error.column()) message.append(", column ").append(std::to_string(*column));
  }
  return message;
}

void raise_class(ExceptionClass cls, std::string_view message) {
  PyObject* type = exception_class(cls);
  if (type == nullptr) return;  // the creation failure is pending instead
  raise(type, message);
}

void raise_engine_error(const construct::EngineError& error) {
  raise_class(exception_class_for(error.kind()), python_message(error));
}

void raise_panic(std::string_view message) {
  if (g_panic == nullptr) {
    g_panic = PyErr_NewExceptionWithDoc("_native.PanicException",
                                        "A failure inside the engine that is not an engine error.",
                                        PyExc_BaseException, nullptr);
    if (g_panic == nullptr) return;
  }
  raise(g_panic, message);
}

}  // namespace brackwater::python
