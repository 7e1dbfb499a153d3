// Conversion of Python arguments into engine values.
//
// Every `convert_*` function converts one named argument. On failure it leaves the conversion's own
// exception pending (TypeError "'<given>' object is not an instance of '<expected>'", the host's
// UnicodeEncodeError, OverflowError or TypeError from its number conversions, or ValueError), with
// the note "while processing '<argument>'" attached, and returns false. None and an absent argument
// (nullptr) are the same for the optional conversions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "python/host.h"

namespace brackwater::python {

// UTF-8 text borrowed from a bytes object that the holder keeps alive; readable without the
// interpreter lock.
struct TextArgument {
  PyRef bytes;  // what `text` views: the str itself, or its UTF-8 bytes
  std::string_view text;
};

// One entry of the `parameters` dict: the name and the (kind, token) pair, as given.
struct ParameterEntry {
  std::string name;
  std::string kind;
  std::string token;
};

bool convert_text(PyObject* obj, const char* argument, TextArgument& out);
bool convert_optional_text(PyObject* obj, const char* argument, std::optional<std::string>& out);
bool convert_optional_seconds(PyObject* obj, const char* argument, std::optional<double>& out);
bool convert_optional_u64(PyObject* obj, const char* argument, std::optional<uint64_t>& out);
// A dict (or subclass) of str keys to tuples (or subclasses) of exactly two str, walked in the
// dict's own order; the first bad entry fails the whole argument.
bool convert_optional_parameters(PyObject* obj, const char* argument,
                                 std::optional<std::vector<ParameterEntry>>& out);

inline bool is_absent(PyObject* obj) { return obj == nullptr || obj == Py_None; }

}  // namespace brackwater::python
