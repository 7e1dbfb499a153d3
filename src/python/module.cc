// The extension module `brackwater._native`: multi-phase initialisation with one execution slot.
//
// The execution slot adds, in this order and stopping at the first failure, the class `_Database`,
// the twelve exception classes and the four version constants; each name is appended to the
// module's `__all__` before its attribute is set.
#include "python/database.h"
#include "python/exceptions.h"
#include "python/host.h"
#include "python/versions.h"

namespace brackwater::python {
namespace {

// Appends `name` to the module's `__all__` (creating the list when absent), then sets the attribute.
// Steals `value`.
int add_to_module(PyObject* module, const char* name, PyObject* value) {
  PyRef owned(value);
  if (!owned) return -1;
  PyRef all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = PyRef(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) != 0) return -1;
  }
  if (!PyList_Check(all.get())) {
    raise(PyExc_TypeError, "`__all__` must be a list");
    return -1;
  }
  PyRef text(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) != 0) return -1;
  return PyObject_SetAttr(module, text.get(), owned.get());
}

PyObject* new_reference(PyObject* borrowed) {
  Py_XINCREF(borrowed);
  return borrowed;
}

int module_init(PyObject* module) {
  if (add_to_module(module, "_Database", new_reference(database_type())) != 0) return -1;
  for (int i = 0; i < kExceptionClassCount; ++i) {
    const auto cls = static_cast<ExceptionClass>(i);
    if (add_to_module(module, exception_class_name(cls), new_reference(exception_class(cls))) != 0) return -1;
  }
  if (add_to_module(module, "PYTHON_INTERFACE_VERSION", PyLong_FromLong(kPythonInterfaceVersion)) != 0) return -1;
  if (add_to_module(module, "VELQUIN_VERSION", PyLong_FromLong(kVelquinVersion)) != 0) return -1;
  if (add_to_module(module, "TERRAIN_VERSION", PyLong_FromLong(kTerrainVersion)) != 0) return -1;
  if (add_to_module(module, "ENGINE_PACKAGE_VERSION", PyUnicode_FromString(kEnginePackageVersion)) != 0) return -1;
  return 0;
}

PyModuleDef_Slot g_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&module_init)},
    {0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT,
    "_native",  // m_name
    "",         // m_doc
    0,          // m_size
    nullptr,    // m_methods
    g_slots,    // m_slots
    nullptr,    // m_traverse
    nullptr,    // m_clear
    nullptr,    // m_free
};

}  // namespace
}  // namespace brackwater::python

extern "C" PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&brackwater::python::g_module); }
