// The host interpreter, seen through its stable ABI.
//
// Includes Python.h (limited API) and gives the binding an owning reference type and the helpers every
// method uses to raise exceptions with exact texts. Every function here expects the interpreter lock
// to be held by the calling thread.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

namespace brackwater::python {

// An owned (strong) reference; releases it on destruction.
class PyRef {
 public:
  PyRef() = default;
  explicit PyRef(PyObject* owned) : ptr_(owned) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    if (this != &other) {
      Py_XDECREF(ptr_);
      ptr_ = std::exchange(other.ptr_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(ptr_); }

  PyObject* get() const { return ptr_; }
  PyObject* release() { return std::exchange(ptr_, nullptr); }
  explicit operator bool() const { return ptr_ != nullptr; }

 private:
  PyObject* ptr_ = nullptr;
};

// A new str from UTF-8 text; invalid bytes become U+FFFD so that an error message never fails.
PyObject* str_from_utf8_lossy(std::string_view text);

// Sets a pending exception of class `cls` whose single argument is `message`.
void raise(PyObject* cls, std::string_view message);

// Attaches the note "while processing '<argument>'" to the pending exception, when the host has
// exception notes. The pending exception stays pending.
void add_argument_note(const char* argument);

// The `__name__` of the type of `obj` (e.g. "int"), or "?" when it cannot be read.
std::string type_name_of(PyObject* obj);

}  // namespace brackwater::python
