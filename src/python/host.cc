#include "python/host.h"

namespace brackwater::python {

PyObject* str_from_utf8_lossy(std::string_view text) {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

void raise(PyObject* cls, std::string_view message) {
  PyRef text(str_from_utf8_lossy(message));
  if (!text) return;  // the decoding failure is pending instead
  PyErr_SetObject(cls, text.get());
}

void add_argument_note(const char* argument) {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type == nullptr) return;
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    // Exception notes exist from Python 3.11 on; older hosts get the exception without the note.
    PyRef add_note(PyObject_GetAttrString(value, "add_note"));
    if (add_note) {
      std::string note = "while processing '";
      note.append(argument).append("'");
      PyRef text(str_from_utf8_lossy(note));
      PyRef result(text ? PyObject_CallFunctionObjArgs(add_note.get(), text.get(), nullptr) : nullptr);
    }
    PyErr_Clear();  // a failing note must not replace the argument's own error
  }
  PyErr_Restore(type, value, traceback);
}

std::string type_name_of(PyObject* obj) {
  PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__name__"));
  if (!name) {
    PyErr_Clear();
    return "?";
  }
  PyRef bytes(PyUnicode_Check(name.get()) ? PyUnicode_AsUTF8String(name.get()) : nullptr);
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) != 0) {
    PyErr_Clear();
    return "?";
  }
  return std::string(data, static_cast<size_t>(size));
}

}  // namespace brackwater::python
