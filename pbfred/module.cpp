// The module `pbfred`: its creation and execution steps and its two init entries.
//
// Its names and messages follow the conventions of generated extension modules, because callers
// and stored tracebacks rely on them: the pickling refusals keep their working names
// `__reduce_cython__` and `__setstate_cython__` in the module namespace, the namespace has an empty
// `__test__` dictionary (where doctest looks for extra tests), a failed execution adds the
// traceback entry "init pbfred" and raises ImportError("init pbfred") when nothing else was set,
// and the version and interpreter checks use the wording of those modules. Changing any of them
// changes what existing callers see.
//
// The module keeps process-global state instead of per-module state: the module object, the id
// of the interpreter that first created it and whether the type is ready. There is one module
// object per process, loaded into one interpreter; importing it again, also after removing it
// from sys.modules, hands back the same object.
#include <Python.h>

#include <cstdint>
#include <cstdio>

#include "py_ref.h"
#include "pypbf_type.h"
#include "traceback.h"

namespace pbfred {
namespace {

// --- Process-global state, written only by module initialisation ---

PyObject* the_module = nullptr;  // a strong reference, recorded by the execution step
int64_t interpreter_id = -1;     // the interpreter of the first creation step

// Only the interpreter that first created the module may load it: the state above is global.
bool SameInterpreter() {
  const int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (id == -1) return false;
  if (interpreter_id == -1) interpreter_id = id;
  if (interpreter_id == id) return true;
  PyErr_SetString(PyExc_ImportError,
                  "Interpreter change detected - this module can only be loaded into one "
                  "interpreter per process.");
  return false;
}

// Copies attribute `from` of the import spec into the namespace as `to`; a missing attribute is
// skipped.
bool CopySpecAttribute(PyObject* spec, PyObject* dict, const char* from, const char* to,
                       bool none_allowed) {
  PyRef value = PyRef::steal(PyObject_GetAttrString(spec, from));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    return true;
  }
  return (!none_allowed && value.get() == Py_None) ||
         PyDict_SetItemString(dict, to, value.get()) == 0;
}

PyObject* CreateModule(PyObject* spec, PyModuleDef*) noexcept {
  PyObject* result = nullptr;
  if (SameInterpreter()) {
    if (the_module) {
      result = Py_NewRef(the_module);
    } else {
      PyRef name = PyRef::steal(PyObject_GetAttrString(spec, "name"));
      PyRef module = name ? PyRef::steal(PyModule_NewObject(name.get())) : PyRef();
      PyObject* dict = module ? PyModule_GetDict(module.get()) : nullptr;
      if (dict && CopySpecAttribute(spec, dict, "loader", "__loader__", true) &&
          CopySpecAttribute(spec, dict, "origin", "__file__", true) &&
          CopySpecAttribute(spec, dict, "parent", "__package__", true) &&
          CopySpecAttribute(spec, dict, "submodule_search_locations", "__path__", false)) {
        result = module.release();
      }
    }
  }
  return result;
}

bool SetBuiltins(PyObject* module) {
  PyRef builtins = PyRef::steal(PyImport_ImportModule("builtins"));
  return builtins && PyModule_AddObjectRef(module, "__builtins__", builtins.get()) == 0;
}

// A module built for one Python version and loaded by another works only by accident.
bool CheckVersion() {
  int major = 0;
  int minor = 0;
  if (std::sscanf(Py_GetVersion(), "%d.%d", &major, &minor) == 2 && major == PY_MAJOR_VERSION &&
      minor == PY_MINOR_VERSION) {
    return true;
  }
  return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                          "compile time Python version %d.%d of module '%.100s' %s runtime "
                          "version %d.%d",
                          PY_MAJOR_VERSION, PY_MINOR_VERSION, "pbfred", "does not match", major,
                          minor) == 0;
}

bool EnterInModuleTable(PyObject* module) {
  PyRef name = PyRef::steal(PyUnicode_FromString("pbfred"));
  return name && PyDict_SetDefault(PyImport_GetModuleDict(), name.get(), module) != nullptr;
}

// The module namespace keeps the two refusals under their working names.
bool PublishRefusal(PyObject* module, const char* type_name, const char* module_name) {
  PyRef method =
      PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyPBFType), type_name));
  return method && PyModule_AddObjectRef(module, module_name, method.get()) == 0;
}

// doctest looks for extra tests in __test__; the module has none.
bool PublishTestDict(PyObject* module) {
  PyRef test = PyRef::steal(PyDict_New());
  return test && PyModule_AddObjectRef(module, "__test__", test.get()) == 0;
}

int ExecModule(PyObject* module) noexcept {
  if (the_module) {
    if (the_module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module 'pbfred' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  the_module = Py_NewRef(module);
  const bool ok =
      SetBuiltins(module) && CheckVersion() && EnterInModuleTable(module) && ReadyType() &&
      PyModule_AddObjectRef(module, "PyPBF", reinterpret_cast<PyObject*>(&PyPBFType)) == 0 &&
      SetUpPickling() && PublishRefusal(module, "__reduce__", kReduceCythonName) &&
      PublishRefusal(module, "__setstate__", kSetstateCythonName) && PublishTestDict(module);
  if (!ok) {
    // A failed execution records nothing, so that a later import starts afresh.
    AddTraceback("init pbfred", PyModule_GetDict(module));
    Py_CLEAR(the_module);
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "init pbfred");
  }
  return ok ? 0 : -1;
}

PyModuleDef_Slot kSlots[] = {
    {Py_mod_create, reinterpret_cast<void*>(CreateModule)},
    {Py_mod_exec, reinterpret_cast<void*>(ExecModule)},
#if PY_VERSION_HEX >= 0x030C0000
    // Says up front what SameInterpreter enforces, so isolated subinterpreters refuse the import.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

// The interpreter's structs are written with designated initialisers; every member not named is
// meant to be zero, which is what GCC's missing-initialiser warning would complain about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

PyModuleDef kModule = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "pbfred",
    .m_doc = nullptr,
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = kSlots,
};

}  // namespace

#pragma GCC diagnostic pop

PyObject* ModuleGlobals() { return the_module ? PyModule_GetDict(the_module) : nullptr; }

}  // namespace pbfred

// The extension is the package's __init__; the loader asks for the entry named after the
// package, a loader given the file alone for the one named after the file.
PyMODINIT_FUNC PyInit_pbfred() { return PyModuleDef_Init(&pbfred::kModule); }
PyMODINIT_FUNC PyInit___init__() { return PyModuleDef_Init(&pbfred::kModule); }
