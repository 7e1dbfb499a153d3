#include "python/arguments.h"

namespace brackwater::python {
namespace {

void raise_not_instance(PyObject* obj, const char* expected) {
  std::string message = "'";
  message.append(type_name_of(obj)).append("' object is not an instance of '").append(expected).append("'");
  raise(PyExc_TypeError, message);
}

// Encodes a str (or subclass) as UTF-8 into a new bytes object; no note attached.
PyObject* utf8_bytes(PyObject* obj) {
  if (!PyUnicode_Check(obj)) {
    raise_not_instance(obj, "str");
    return nullptr;
  }
  return PyUnicode_AsUTF8String(obj);
}

bool text_of(PyObject* obj, std::string& out) {
  PyRef bytes(utf8_bytes(obj));
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) != 0) return false;
  out.assign(data, static_cast<size_t>(size));
  return true;
}

bool fail_with_note(const char* argument) {
  add_argument_note(argument);
  return false;
}

bool parameter_entry(PyObject* key, PyObject* value, ParameterEntry& out) {
  if (!text_of(key, out.name)) return false;
  if (!PyTuple_Check(value)) {
    raise_not_instance(value, "tuple");
    return false;
  }
  const Py_ssize_t length = PyTuple_Size(value);
  if (length < 0) return false;
  if (length != 2) {
    std::string message = "expected tuple of length 2, but got tuple of length ";
    message.append(std::to_string(length));
    raise(PyExc_ValueError, message);
    return false;
  }
  PyObject* kind = PyTuple_GetItem(value, 0);
  PyObject* token = PyTuple_GetItem(value, 1);
  return kind != nullptr && token != nullptr && text_of(kind, out.kind) && text_of(token, out.token);
}

}  // namespace

bool convert_text(PyObject* obj, const char* argument, TextArgument& out) {
  // The UTF-8 bytes are kept alive beside the view: the script is parsed without a further copy.
  out.bytes = PyRef(utf8_bytes(obj));
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!out.bytes || PyBytes_AsStringAndSize(out.bytes.get(), &data, &size) != 0) return fail_with_note(argument);
  out.text = std::string_view(data, static_cast<size_t>(size));
  return true;
}

bool convert_optional_text(PyObject* obj, const char* argument, std::optional<std::string>& out) {
  out.reset();
  if (is_absent(obj)) return true;
  std::string text;
  if (!text_of(obj, text)) return fail_with_note(argument);
  out = std::move(text);
  return true;
}

bool convert_optional_seconds(PyObject* obj, const char* argument, std::optional<double>& out) {
  out.reset();
  if (is_absent(obj)) return true;
  const double value = PyFloat_AsDouble(obj);
  if (value == -1.0 && PyErr_Occurred() != nullptr) return fail_with_note(argument);
  out = value;
  return true;
}

bool convert_optional_u64(PyObject* obj, const char* argument, std::optional<uint64_t>& out) {
  out.reset();
  if (is_absent(obj)) return true;
  PyRef index(PyNumber_Index(obj));
  if (!index) return fail_with_note(argument);
  const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred() != nullptr) return fail_with_note(argument);
  out = static_cast<uint64_t>(value);
  return true;
}

bool convert_optional_parameters(PyObject* obj, const char* argument,
                                 std::optional<std::vector<ParameterEntry>>& out) {
  out.reset();
  if (is_absent(obj)) return true;
  if (!PyDict_Check(obj)) {
    raise_not_instance(obj, "dict");
    return fail_with_note(argument);
  }
  std::vector<ParameterEntry> entries;
  const Py_ssize_t size = PyDict_Size(obj);
  if (size > 0) entries.reserve(static_cast<size_t>(size));
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(obj, &position, &key, &value)) {
    // Borrowed references: keep them alive across conversions that may run Python code.
    Py_INCREF(key);
    Py_INCREF(value);
    PyRef key_ref(key);
    PyRef value_ref(value);
    ParameterEntry entry;
    if (!parameter_entry(key, value, entry)) return fail_with_note(argument);
    entries.push_back(std::move(entry));
  }
  out = std::move(entries);
  return true;
}

}  // namespace brackwater::python
