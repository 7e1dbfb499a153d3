// The native class `_Database`: one optional engine per instance, guarded by a borrow counter.
//
// Instances come only from the static `memory()` and `open(path)`; calling the class raises
// TypeError. The class cannot be subclassed and has no instance `__dict__` or weak-reference slot.
// `close()` takes the engine out under the exclusive borrow and releases it (with its store and the
// store's lock file) before returning; destroying an open instance does the same.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "construct/deadline.h"
#include "construct/engine.h"
#include "python/borrow.h"
#include "python/host.h"

namespace brackwater::python {

struct DatabaseObject {
  PyObject_HEAD
  std::shared_ptr<construct::Engine> engine;  // empty when closed
  BorrowCounter borrow;
};

// The class object (a borrowed reference), built on first use; nullptr with an exception pending
// when the host refuses it.
PyObject* database_type();

// Method bodies defined beside their own concerns.
PyObject* database_execute_json(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* database_terrain_json(PyObject* self, PyObject* args, PyObject* kwargs);

// Raises RuntimeError "Already mutably borrowed" (a shared borrow was refused).
void raise_already_mutably_borrowed();

// Steps the methods share once their arguments are converted; on failure the exception is raised.
// The engine of an open database, or nullptr with ClosedError "database is closed".
std::shared_ptr<construct::Engine> open_engine(const DatabaseObject* db);
// `seconds`, when given, as the Duration `out`; false with ValueError when it is no usable timeout.
bool convert_timeout(const std::optional<double>& seconds, std::optional<construct::Duration>& out);
// The JSON text as a str; nullptr with MemoryError when the str cannot be made, or with
// InternalError `failure` when the text is not valid UTF-8.
PyObject* json_text(const std::string& json, const char* failure);

}  // namespace brackwater::python
