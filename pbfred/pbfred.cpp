// The extension module `pbfred` and its type `PyPBF`, a Python object that owns one pbf::PBF.
//
// Every method is a thin wrapper: bind the arguments, convert every one of them, call one core
// operation, convert the result back. All conversions and checks come before the core call, so a
// rejected call leaves the function as it was; the core's own edits make room before they change
// anything, so an allocation failure inside them does the same. Errors become Python exceptions
// with a traceback entry named after the method, except where a Python-level caller would see no
// frame of the method either: argument errors of methods without parameters and failed type
// tests of PyPBF arguments.
//
// The module keeps process-global state instead of per-module state: the module object, the id
// of the interpreter that first created it and whether the type is ready. There is one module
// object per process, loaded into one interpreter; importing it again, also after removing it
// from sys.modules, hands back the same object.
#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <source_location>
#include <stdexcept>

#include "args.h"
#include "errors.h"
#include "pbf.h"
#include "pbf_limits.h"
#include "py_ref.h"
#include "pypbf_object.h"
#include "traceback.h"

namespace pbfred {

extern PyTypeObject PyPBFType;

namespace {

// --- Process-global state, written only by module initialisation ---

PyObject* the_module = nullptr;  // a strong reference, recorded by the execution step
int64_t interpreter_id = -1;     // the interpreter of the first creation step
bool type_ready = false;         // PyType_Ready done and the pickling refusal set up

// --- Signatures: method names as messages show them, parameter names as keywords bind them ---

Signature kCinit{"__cinit__", {"maxVars"}};
Signature kCopy{"copy", {}};
Signature kCopyFrom{"copy_from", {"other"}};
Signature kAddUnaryTerm{"add_unary_term", {"i", "E0", "E1"}};
Signature kAddPairwiseTerm{"add_pairwise_term", {"i", "j", "E00", "E01", "E10", "E11"}};
Signature kAddHigherTerm{"add_higher_term", {"cliquesize", "vars", "vals"}};
Signature kShrink{"shrink", {}};
Signature kPrint{"print", {}};
Signature kReduceHigher{"reduce_higher", {}};
Signature kReduceHigherApprox{"reduce_higher_approx", {}};
Signature kToQuadratic{"to_quadratic", {"qpbf", "newvar"}};
Signature kMaxD{"max_d", {}};
Signature kMaxId{"max_id", {}};
Signature kConstant{"constant", {}};
Signature kGetString{"get_string", {}};
Signature kReduceCython{"__reduce_cython__", {}};
Signature kSetstateCython{"__setstate_cython__", {"state"}};

Signature* const kSignatures[] = {
    &kCinit,  &kCopy,     &kCopyFrom,     &kAddUnaryTerm,       &kAddPairwiseTerm, &kAddHigherTerm,
    &kShrink, &kPrint,    &kReduceHigher, &kReduceHigherApprox, &kToQuadratic,     &kMaxD,
    &kMaxId,  &kConstant, &kGetString,    &kReduceCython,       &kSetstateCython,
};

// --- Helpers shared by the methods ---

std::unique_ptr<pbf::PBF>& Owner(PyObject* self) { return OwnerOf(self); }

// The function of an instance. Only a subclass's __del__ can meet an instance whose construction
// failed; it gets an exception instead of a crash.
pbf::PBF& Function(PyObject* self) {
  pbf::PBF* function = FunctionOf(self);
  if (!function) throw std::logic_error("the PyPBF object was not constructed");
  return *function;
}

void AddMethodTraceback(const Signature& sig,
                        std::source_location where = std::source_location::current()) {
  char name[64];
  std::snprintf(name, sizeof name, "pbfred.PyPBF.%s", sig.name);
  AddTraceback(name, the_module ? PyModule_GetDict(the_module) : nullptr, where);
}

// The result of a method that returns None.
PyObject* NoneOrTraceback(bool ok, const Signature& sig,
                          std::source_location where = std::source_location::current()) {
  if (!ok) AddMethodTraceback(sig, where);
  return ok ? Py_NewRef(Py_None) : nullptr;
}

// The result of a query: an int made from the core's answer, or null with the exception set.
template <typename Query>
PyObject* IntOrTraceback(const Signature& sig, Query&& query,
                         std::source_location where = std::source_location::current()) {
  PyObject* result = nullptr;
  Guarded([&] {
    result = PyLong_FromLong(query());
    return result != nullptr;
  });
  if (!result) AddMethodTraceback(sig, where);
  return result;
}

bool ConvertAll(PyObject* const* values, int32_t* out, Py_ssize_t count) {
  for (Py_ssize_t k = 0; k < count; ++k) {
    if (!AsInt32(values[k], &out[k])) return false;
  }
  return true;
}

// The core takes non-negative ids and sizes only; anything else is refused before it runs.
bool RequireNonNegative(const char* name, int32_t value) {
  if (value >= 0) return true;
  PyErr_Format(PyExc_ValueError, "%s must be >= 0, got %d", name, value);
  return false;
}

bool RequireNonNegativeIds(const int32_t* ids, int32_t count) {
  for (int32_t p = 0; p < count; ++p) {
    if (ids[p] < 0) {
      PyErr_Format(PyExc_ValueError, "vars[%d] must be >= 0, got %d", p, ids[p]);
      return false;
    }
  }
  return true;
}

bool RequireCliqueSize(int32_t n) {
  if (n >= 0 && n <= pbf::kMaxCliqueSize) return true;
  PyErr_Format(PyExc_ValueError, "cliquesize must be between 0 and %d, got %d", pbf::kMaxCliqueSize,
               n);
  return false;
}

// The type test of PyPBF parameters. None is refused like any other object: the methods need
// the function of an instance.
bool RequirePyPBF(PyObject* object, const char* param) {
  if (PyObject_TypeCheck(object, &PyPBFType)) return true;
  PyErr_Format(PyExc_TypeError,
               "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", param,
               PyPBFType.tp_name, Py_TYPE(object)->tp_name);
  return false;
}

// --- Construction and destruction ---

PyObject* New(PyTypeObject* type, PyObject* args, PyObject* kwds) noexcept {
  PyRef self = PyRef::steal(type->tp_alloc(type, 0));
  if (self) {
    new (&Owner(self.get())) std::unique_ptr<pbf::PBF>();
    PyObject* arg = nullptr;
    int32_t max_vars = 0;
    const bool ok = BindOptional(kCinit, args, kwds, &arg) && (!arg || AsInt32(arg, &max_vars)) &&
                    RequireNonNegative("maxVars", max_vars) && Guarded([&] {
                      Owner(self.get()) = std::make_unique<pbf::PBF>(max_vars);
                      return true;
                    });
    if (!ok) {
      AddMethodTraceback(kCinit);
      self = PyRef();
    }
  }
  return self.release();
}

// Runs also while an exception is pending (a failed construction, a frame being unwound); the
// exception is set aside so that nothing done here can replace or clear it.
void Dealloc(PyObject* self) noexcept {
  {
    PendingError pending;
    std::destroy_at(&Owner(self));
  }
  Py_TYPE(self)->tp_free(self);
}

// --- Methods, in the order of the method table ---

PyObject* Copy(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
               PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  if (BindArguments(kCopy, args, nargsf, kwnames, nullptr)) {
    // Always exactly PyPBF, also for a subclass's instance: the new instance's empty function is
    // replaced by the copy.
    PyRef copy = PyRef::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&PyPBFType)));
    if (copy && Guarded([&] {
          Owner(copy.get()) = std::make_unique<pbf::PBF>(Function(self));
          return true;
        })) {
      result = copy.release();
    } else {
      AddMethodTraceback(kCopy);
    }
  }
  return result;
}

PyObject* CopyFrom(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  PyObject* other = nullptr;
  if (!BindArguments(kCopyFrom, args, nargsf, kwnames, &other)) {
    AddMethodTraceback(kCopyFrom);
  } else if (RequirePyPBF(other, kCopyFrom.params[0])) {
    // The copy is complete before the old function goes; copying from itself changes nothing.
    result = NoneOrTraceback(other == self || Guarded([&] {
                               Owner(self) = std::make_unique<pbf::PBF>(Function(other));
                               return true;
                             }),
                             kCopyFrom);
  }
  return result;
}

PyObject* AddUnaryTerm(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  PyObject* values[3];
  int32_t v[3] = {};
  const bool ok = BindArguments(kAddUnaryTerm, args, nargsf, kwnames, values) &&
                  ConvertAll(values, v, 3) && RequireNonNegative("i", v[0]) && Guarded([&] {
                    Function(self).AddUnaryTerm(v[0], v[1], v[2]);
                    return true;
                  });
  return NoneOrTraceback(ok, kAddUnaryTerm);
}

PyObject* AddPairwiseTerm(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
  PyObject* values[6];
  int32_t v[6] = {};
  const bool ok = BindArguments(kAddPairwiseTerm, args, nargsf, kwnames, values) &&
                  ConvertAll(values, v, 6) && RequireNonNegative("i", v[0]) &&
                  RequireNonNegative("j", v[1]) && Guarded([&] {
                    Function(self).AddPairwiseTerm(v[0], v[1], v[2], v[3], v[4], v[5]);
                    return true;
                  });
  return NoneOrTraceback(ok, kAddPairwiseTerm);
}

PyObject* AddHigherTerm(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames) noexcept {
  PyObject* values[3];
  int32_t n = 0;
  const bool ok =
      BindArguments(kAddHigherTerm, args, nargsf, kwnames, values) && AsInt32(values[0], &n) &&
      RequireCliqueSize(n) && Guarded([&] {
        // Flat scratch arrays, left uninitialised: every entry is written before it is read.
        const size_t count = size_t{1} << n;
        auto ids = std::make_unique_for_overwrite<int32_t[]>(static_cast<size_t>(n));
        auto vals = std::make_unique_for_overwrite<int32_t[]>(count);
        if (!ReadInt32Items(values[1], ids.get(), static_cast<size_t>(n)) ||
            !ReadInt32Items(values[2], vals.get(), count) || !RequireNonNegativeIds(ids.get(), n)) {
          return false;
        }
        Function(self).AddHigherTerm(n, ids.get(), vals.get());
        return true;
      });
  return NoneOrTraceback(ok, kAddHigherTerm);
}

// A method without parameters that runs one in-place core operation and returns None.
template <typename Operation>
PyObject* RunInPlace(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                     PyObject* kwnames, Operation&& operation) {
  if (!BindArguments(sig, args, nargsf, kwnames, nullptr)) return nullptr;
  return NoneOrTraceback(Guarded([&] {
                           operation();
                           return true;
                         }),
                         sig);
}

PyObject* Shrink(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                 PyObject* kwnames) noexcept {
  return RunInPlace(kShrink, args, nargsf, kwnames, [&] { Function(self).Shrink(); });
}

PyObject* Print(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                PyObject* kwnames) noexcept {
  return RunInPlace(kPrint, args, nargsf, kwnames, [&] { Function(self).Print(); });
}

PyObject* ReduceHigher(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  return RunInPlace(kReduceHigher, args, nargsf, kwnames, [&] { Function(self).ReduceHigher(); });
}

PyObject* ReduceHigherApprox(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) noexcept {
  return RunInPlace(kReduceHigherApprox, args, nargsf, kwnames,
                    [&] { Function(self).ReduceHigherApprox(); });
}

PyObject* ToQuadratic(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  PyObject* values[2];
  int32_t newvar = 0;
  // newvar is converted before qpbf is type-tested.
  if (!BindArguments(kToQuadratic, args, nargsf, kwnames, values) || !AsInt32(values[1], &newvar)) {
    AddMethodTraceback(kToQuadratic);
  } else if (RequirePyPBF(values[0], kToQuadratic.params[0])) {
    // The next free id is of no use to a Python caller: max_id() of the target tells the same.
    result = NoneOrTraceback(Guarded([&] {
                               Function(self).ToQuadratic(Function(values[0]), newvar);
                               return true;
                             }),
                             kToQuadratic);
  }
  return result;
}

PyObject* MaxD(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
               PyObject* kwnames) noexcept {
  return BindArguments(kMaxD, args, nargsf, kwnames, nullptr)
             ? IntOrTraceback(kMaxD, [&] { return Function(self).MaxDegree(); })
             : nullptr;
}

PyObject* MaxId(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                PyObject* kwnames) noexcept {
  return BindArguments(kMaxId, args, nargsf, kwnames, nullptr)
             ? IntOrTraceback(kMaxId, [&] { return Function(self).MaxId(); })
             : nullptr;
}

PyObject* Constant(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames) noexcept {
  return BindArguments(kConstant, args, nargsf, kwnames, nullptr)
             ? IntOrTraceback(kConstant, [&] { return Function(self).constant; })
             : nullptr;
}

PyObject* GetString(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  if (BindArguments(kGetString, args, nargsf, kwnames, nullptr)) {
    Guarded([&] {
      const std::string text = Function(self).GetString();
      result = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
      return result != nullptr;
    });
    if (!result) AddMethodTraceback(kGetString);
  }
  return result;
}

// A PBF cannot be rebuilt from a pickled state, so pickling and copy.copy are refused.
void RefusePickling() {
  PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
}

PyObject* ReduceCython(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  if (BindArguments(kReduceCython, args, nargsf, kwnames, nullptr)) {
    RefusePickling();
    AddMethodTraceback(kReduceCython);
  }
  return nullptr;
}

PyObject* SetstateCython(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) noexcept {
  PyObject* state = nullptr;
  if (BindArguments(kSetstateCython, args, nargsf, kwnames, &state)) RefusePickling();
  AddMethodTraceback(kSetstateCython);
  return nullptr;
}

using FastMethod = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

// The method table stores every method under the classic PyCFunction type; the flags tell the
// interpreter the real one.
PyCFunction AsCFunction(FastMethod method) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(method));
}

constexpr int kFast = METH_FASTCALL | METH_KEYWORDS;

// In the order of the type's published interface. The text signatures give introspection the
// parameter names and leave __doc__ None.
PyMethodDef kMethods[] = {
    {kCopy.name, AsCFunction(Copy), kFast, "copy($self)\n--\n\n"},
    {kCopyFrom.name, AsCFunction(CopyFrom), kFast, "copy_from($self, other)\n--\n\n"},
    {kAddUnaryTerm.name, AsCFunction(AddUnaryTerm), kFast,
     "add_unary_term($self, i, E0, E1)\n--\n\n"},
    {kAddPairwiseTerm.name, AsCFunction(AddPairwiseTerm), kFast,
     "add_pairwise_term($self, i, j, E00, E01, E10, E11)\n--\n\n"},
    {kAddHigherTerm.name, AsCFunction(AddHigherTerm), kFast,
     "add_higher_term($self, cliquesize, vars, vals)\n--\n\n"},
    {kShrink.name, AsCFunction(Shrink), kFast, "shrink($self)\n--\n\n"},
    {kPrint.name, AsCFunction(Print), kFast, "print($self)\n--\n\n"},
    {kReduceHigher.name, AsCFunction(ReduceHigher), kFast, "reduce_higher($self)\n--\n\n"},
    {kReduceHigherApprox.name, AsCFunction(ReduceHigherApprox), kFast,
     "reduce_higher_approx($self)\n--\n\n"},
    {kToQuadratic.name, AsCFunction(ToQuadratic), kFast,
     "to_quadratic($self, qpbf, newvar)\n--\n\n"},
    {kMaxD.name, AsCFunction(MaxD), kFast, "max_d($self)\n--\n\n"},
    {kMaxId.name, AsCFunction(MaxId), kFast, "max_id($self)\n--\n\n"},
    {kConstant.name, AsCFunction(Constant), kFast, "constant($self)\n--\n\n"},
    {kGetString.name, AsCFunction(GetString), kFast, "get_string($self)\n--\n\n"},
    // Moved to __reduce__ and __setstate__ once the type is ready (SetUpPickling).
    {kReduceCython.name, AsCFunction(ReduceCython), kFast, "__reduce_cython__($self)\n--\n\n"},
    {kSetstateCython.name, AsCFunction(SetstateCython), kFast,
     "__setstate_cython__($self, state)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// --- Module initialisation ---

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

// PyType_Ready installs the methods of kMethods on the type, in table order.
bool ReadyType() {
  for (Signature* sig : kSignatures) {
    if (!InternNames(*sig)) return false;
  }
  return PyType_Ready(&PyPBFType) == 0;
}

// Moves the type's attribute `from` to `to`.
bool RenameTypeAttribute(const char* from, const char* to) {
  PyObject* dict = PyPBFType.tp_dict;
  PyRef method = PyRef::borrow(PyDict_GetItemString(dict, from));
  return method && PyDict_SetItemString(dict, to, method.get()) == 0 &&
         PyDict_DelItemString(dict, from) == 0;
}

// The refusals become __reduce__ and __setstate__; their working names leave the type.
bool SetUpPickling() {
  if (type_ready) return true;
  type_ready = RenameTypeAttribute(kReduceCython.name, "__reduce__") &&
               RenameTypeAttribute(kSetstateCython.name, "__setstate__");
  PyType_Modified(&PyPBFType);
  if (!type_ready && !PyErr_Occurred()) {
    PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", PyPBFType.tp_name);
  }
  return type_ready;
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
      SetUpPickling() && PublishRefusal(module, "__reduce__", kReduceCython.name) &&
      PublishRefusal(module, "__setstate__", kSetstateCython.name) && PublishTestDict(module);
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

// The header macro brings its own trailing comma, which the formatter cannot know.
// clang-format off
PyTypeObject PyPBFType = {
    .ob_base = PyVarObject_HEAD_INIT(nullptr, 0)
    .tp_name = "pbfred.PyPBF",
    .tp_basicsize = sizeof(PyPBFObject),
    .tp_dealloc = Dealloc,
    .tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    .tp_methods = kMethods,
    .tp_new = New,
};
// clang-format on

#pragma GCC diagnostic pop

}  // namespace pbfred

// The extension is the package's __init__; the loader asks for the entry named after the
// package, a loader given the file alone for the one named after the file.
PyMODINIT_FUNC PyInit_pbfred() { return PyModuleDef_Init(&pbfred::kModule); }
PyMODINIT_FUNC PyInit___init__() { return PyModuleDef_Init(&pbfred::kModule); }
