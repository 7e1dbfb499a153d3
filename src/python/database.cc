#include "python/database.h"

#include <new>
#include <optional>
#include <string>

#include "python/arguments.h"
#include "python/boundary.h"
#include "python/exceptions.h"
#include "python/timeout.h"

namespace brackwater::python {
namespace {

PyObject* g_database_type = nullptr;

DatabaseObject* as_database(PyObject* self) { return reinterpret_cast<DatabaseObject*>(self); }

// Wraps a new engine in a new instance; on failure the engine is released and the host's error is
// pending.
PyObject* new_database(std::shared_ptr<construct::Engine> engine) {
  PyObject* type_object = database_type();
  if (type_object == nullptr) return nullptr;
  auto* type = reinterpret_cast<PyTypeObject*>(type_object);
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  PyObject* self = alloc(type, 0);
  if (self == nullptr) return nullptr;
  DatabaseObject* db = as_database(self);
  new (&db->engine) std::shared_ptr<construct::Engine>(std::move(engine));
  new (&db->borrow) BorrowCounter();
  return self;
}

PyObject* open_engine(std::optional<std::string> path) {
  auto engine = construct::Engine::open(std::move(path));
  if (!engine) {
    raise_engine_error(engine.error());
    return nullptr;
  }
  return new_database(std::move(*engine));
}

PyObject* database_memory(PyObject*, PyObject*) {
  return guarded<PyObject*>(nullptr, [] { return open_engine(std::nullopt); });
}

PyObject* database_open(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    static const char* keywords[] = {"path", nullptr};
    PyObject* path_object = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:open", const_cast<char**>(keywords), &path_object)) {
      return nullptr;
    }
    TextArgument path;
    if (!convert_text(path_object, "path", path)) return nullptr;
    return open_engine(std::string(path.text));
  });
}

PyObject* database_close(PyObject* self, PyObject*) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    DatabaseObject* db = as_database(self);
    std::shared_ptr<construct::Engine> engine;
    {
      ExclusiveBorrow borrow(db->borrow);
      if (!borrow.held()) {
        raise(PyExc_RuntimeError, "Already borrowed");
        return nullptr;
      }
      engine = std::move(db->engine);
      db->engine.reset();
      // The calls that could hold the engine too all hold shared borrows, so this is the last
      // holder: the engine, its store and the store's lock file are released here.
      engine.reset();
    }
    Py_RETURN_NONE;
  });
}

PyObject* database_closed(PyObject* self, void*) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    DatabaseObject* db = as_database(self);
    SharedBorrow borrow(db->borrow);
    if (!borrow.held()) {
      raise_already_mutably_borrowed();
      return nullptr;
    }
    return PyBool_FromLong(db->engine == nullptr ? 1 : 0);
  });
}

PyObject* database_repr(PyObject* self) {
  return guarded<PyObject*>(nullptr, [&]() -> PyObject* {
    DatabaseObject* db = as_database(self);
    bool open = false;
    {
      SharedBorrow borrow(db->borrow);
      if (!borrow.held()) {
        raise_already_mutably_borrowed();
        return nullptr;
      }
      open = db->engine != nullptr;
    }
    return PyUnicode_FromString(open ? "<brackwater.Database open>" : "<brackwater.Database closed>");
  });
}

PyObject* database_new(PyTypeObject*, PyObject*, PyObject*) {
  raise(PyExc_TypeError, "cannot create 'brackwater._native._Database' instances");
  return nullptr;
}

void database_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  DatabaseObject* db = as_database(self);
  db->engine.~shared_ptr();  // releases an engine that was never closed
  db->borrow.~BorrowCounter();
  auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free_slot(self);
  Py_DECREF(reinterpret_cast<PyObject*>(type));
}

PyMethodDef g_methods[] = {
    {"memory", reinterpret_cast<PyCFunction>(database_memory), METH_NOARGS | METH_STATIC, "memory()\n--\n\n"},
    {"open", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(database_open)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, "open(path)\n--\n\n"},
    {"execute_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(database_execute_json)),
     METH_VARARGS | METH_KEYWORDS,
     "execute_json($self, script, parameters=None, now=None, timeout=None, max_rows=None)\n--\n\n"},
    {"terrain_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(database_terrain_json)),
     METH_VARARGS | METH_KEYWORDS,
     "terrain_json($self, as_of=None, timeout=5.0, projected_role_limit=None, max_relationship_signatures=None)"
     "\n--\n\n"},
    {"close", reinterpret_cast<PyCFunction>(database_close), METH_NOARGS, "close($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"closed", database_closed, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

const char kDoc[] = "Native database owner. Python users receive the facade in `brackwater._api`.";

PyType_Slot g_slots[] = {
    {Py_tp_doc, const_cast<char*>(kDoc)},
    {Py_tp_new, reinterpret_cast<void*>(database_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(database_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(database_repr)},
    {Py_tp_methods, g_methods},
    {Py_tp_getset, g_getset},
    {0, nullptr},
};

PyType_Spec g_spec = {
    "brackwater._native._Database",
    static_cast<int>(sizeof(DatabaseObject)),
    0,
    Py_TPFLAGS_DEFAULT,
    g_slots,
};

}  // namespace

PyObject* database_type() {
  if (g_database_type == nullptr) g_database_type = PyType_FromSpec(&g_spec);
  return g_database_type;
}

void raise_already_mutably_borrowed() { raise(PyExc_RuntimeError, "Already mutably borrowed"); }

std::shared_ptr<construct::Engine> open_engine(const DatabaseObject* db) {
  if (db->engine == nullptr) raise_class(ExceptionClass::Closed, "database is closed");
  return db->engine;
}

bool convert_timeout(const std::optional<double>& seconds, std::optional<construct::Duration>& out) {
  if (!seconds) return true;
  auto duration = seconds_to_duration(*seconds, "timeout");
  if (!duration) {
    raise(PyExc_ValueError, duration.error());
    return false;
  }
  out = *duration;
  return true;
}

PyObject* json_text(const std::string& json, const char* failure) {
  PyObject* text = PyUnicode_FromStringAndSize(json.data(), static_cast<Py_ssize_t>(json.size()));
  if (text == nullptr && !PyErr_ExceptionMatches(PyExc_MemoryError)) {
    PyErr_Clear();
    raise_class(ExceptionClass::Internal, failure);
  }
  return text;
}

}  // namespace brackwater::python
