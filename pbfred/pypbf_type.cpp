// The type `PyPBF`: a Python object that owns one pbf::PBF, and its methods.
//
// Every method is a thin wrapper: bind the arguments, convert every one of them, call one core
// operation, convert the result back. All conversions and checks come before the core call, so a
// rejected call leaves the function as it was; the core's own edits make room before they change
// anything, so an allocation failure inside them does the same. Errors become Python exceptions
// with a traceback entry named after the method, except where a Python-level caller would see no
// frame of the method either: argument errors of methods without parameters and failed type
// tests of PyPBF arguments.
#include "pypbf_type.h"

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
namespace {

bool type_ready = false;  // the pickling refusals are set up

// --- Signatures: method names as messages show them, parameter names as keywords bind them ---

// Not constants: ReadyType has InternNames fill in each one's interned parameter names.
struct {
  Signature cinit{"__cinit__", {"maxVars"}};
  Signature copy{"copy", {}};
  Signature copy_from{"copy_from", {"other"}};
  Signature add_unary_term{"add_unary_term", {"i", "E0", "E1"}};
  Signature add_pairwise_term{"add_pairwise_term", {"i", "j", "E00", "E01", "E10", "E11"}};
  Signature add_higher_term{"add_higher_term", {"cliquesize", "vars", "vals"}};
  Signature shrink{"shrink", {}};
  Signature print{"print", {}};
  Signature reduce_higher{"reduce_higher", {}};
  Signature reduce_higher_approx{"reduce_higher_approx", {}};
  Signature to_quadratic{"to_quadratic", {"qpbf", "newvar"}};
  Signature max_d{"max_d", {}};
  Signature max_id{"max_id", {}};
  Signature constant{"constant", {}};
  Signature get_string{"get_string", {}};
  Signature reduce_cython{kReduceCythonName, {}};
  Signature setstate_cython{kSetstateCythonName, {"state"}};
} signatures;

Signature* const kAllSignatures[] = {
    &signatures.cinit,
    &signatures.copy,
    &signatures.copy_from,
    &signatures.add_unary_term,
    &signatures.add_pairwise_term,
    &signatures.add_higher_term,
    &signatures.shrink,
    &signatures.print,
    &signatures.reduce_higher,
    &signatures.reduce_higher_approx,
    &signatures.to_quadratic,
    &signatures.max_d,
    &signatures.max_id,
    &signatures.constant,
    &signatures.get_string,
    &signatures.reduce_cython,
    &signatures.setstate_cython,
};

// --- Helpers shared by the methods ---

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
  AddTraceback(name, ModuleGlobals(), where);
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

// Converts values[k] into *out[k] for every k, in order.
template <size_t N>
bool ConvertAll(PyObject* const* values, int32_t* const (&out)[N]) {
  for (size_t k = 0; k < N; ++k) {
    if (!AsInt32(values[k], out[k])) return false;
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
    new (&OwnerOf(self.get())) std::unique_ptr<pbf::PBF>();
    PyObject* arg = nullptr;
    int32_t max_vars = 0;
    const bool ok = BindOptional(signatures.cinit, args, kwds, &arg) &&
                    (!arg || AsInt32(arg, &max_vars)) && RequireNonNegative("maxVars", max_vars) &&
                    Guarded([&] {
                      OwnerOf(self.get()) = std::make_unique<pbf::PBF>(max_vars);
                      return true;
                    });
    if (!ok) {
      AddMethodTraceback(signatures.cinit);
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
    std::destroy_at(&OwnerOf(self));
  }
  Py_TYPE(self)->tp_free(self);
}

// --- Methods, in the order of the method table ---

PyObject* Copy(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
               PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  if (BindArguments(signatures.copy, args, nargsf, kwnames, nullptr)) {
    // Always exactly PyPBF, also for a subclass's instance: the new instance's empty function is
    // replaced by the copy.
    PyRef copy = PyRef::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(&PyPBFType)));
    if (copy && Guarded([&] {
          OwnerOf(copy.get()) = std::make_unique<pbf::PBF>(Function(self));
          return true;
        })) {
      result = copy.release();
    } else {
      AddMethodTraceback(signatures.copy);
    }
  }
  return result;
}

PyObject* CopyFrom(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  PyObject* other = nullptr;
  if (!BindArguments(signatures.copy_from, args, nargsf, kwnames, &other)) {
    AddMethodTraceback(signatures.copy_from);
  } else if (RequirePyPBF(other, signatures.copy_from.params[0])) {
    // The copy is complete before the old function goes; copying from itself changes nothing.
    result = NoneOrTraceback(other == self || Guarded([&] {
                               OwnerOf(self) = std::make_unique<pbf::PBF>(Function(other));
                               return true;
                             }),
                             signatures.copy_from);
  }
  return result;
}

PyObject* AddUnaryTerm(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  PyObject* values[3];
  int32_t i = 0, e0 = 0, e1 = 0;
  const bool ok = BindArguments(signatures.add_unary_term, args, nargsf, kwnames, values) &&
                  ConvertAll(values, {&i, &e0, &e1}) && RequireNonNegative("i", i) && Guarded([&] {
                    Function(self).AddUnaryTerm(i, e0, e1);
                    return true;
                  });
  return NoneOrTraceback(ok, signatures.add_unary_term);
}

PyObject* AddPairwiseTerm(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                          PyObject* kwnames) noexcept {
  PyObject* values[6];
  int32_t i = 0, j = 0, e00 = 0, e01 = 0, e10 = 0, e11 = 0;
  const bool ok = BindArguments(signatures.add_pairwise_term, args, nargsf, kwnames, values) &&
                  ConvertAll(values, {&i, &j, &e00, &e01, &e10, &e11}) &&
                  RequireNonNegative("i", i) && RequireNonNegative("j", j) && Guarded([&] {
                    Function(self).AddPairwiseTerm(i, j, e00, e01, e10, e11);
                    return true;
                  });
  return NoneOrTraceback(ok, signatures.add_pairwise_term);
}

PyObject* AddHigherTerm(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                        PyObject* kwnames) noexcept {
  PyObject* values[3];
  int32_t n = 0;
  const bool ok =
      BindArguments(signatures.add_higher_term, args, nargsf, kwnames, values) &&
      AsInt32(values[0], &n) && RequireCliqueSize(n) && Guarded([&] {
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
  return NoneOrTraceback(ok, signatures.add_higher_term);
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
  return RunInPlace(signatures.shrink, args, nargsf, kwnames, [&] { Function(self).Shrink(); });
}

PyObject* Print(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                PyObject* kwnames) noexcept {
  return RunInPlace(signatures.print, args, nargsf, kwnames, [&] { Function(self).Print(); });
}

PyObject* ReduceHigher(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  return RunInPlace(signatures.reduce_higher, args, nargsf, kwnames,
                    [&] { Function(self).ReduceHigher(); });
}

PyObject* ReduceHigherApprox(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                             PyObject* kwnames) noexcept {
  return RunInPlace(signatures.reduce_higher_approx, args, nargsf, kwnames,
                    [&] { Function(self).ReduceHigherApprox(); });
}

PyObject* ToQuadratic(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                      PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  PyObject* values[2];
  int32_t newvar = 0;
  // newvar is converted before qpbf is type-tested.
  if (!BindArguments(signatures.to_quadratic, args, nargsf, kwnames, values) ||
      !AsInt32(values[1], &newvar)) {
    AddMethodTraceback(signatures.to_quadratic);
  } else if (RequirePyPBF(values[0], signatures.to_quadratic.params[0])) {
    // The next free id is of no use to a Python caller: max_id() of the target tells the same.
    result = NoneOrTraceback(Guarded([&] {
                               Function(self).ToQuadratic(Function(values[0]), newvar);
                               return true;
                             }),
                             signatures.to_quadratic);
  }
  return result;
}

PyObject* MaxD(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
               PyObject* kwnames) noexcept {
  return BindArguments(signatures.max_d, args, nargsf, kwnames, nullptr)
             ? IntOrTraceback(signatures.max_d, [&] { return Function(self).MaxDegree(); })
             : nullptr;
}

PyObject* MaxId(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                PyObject* kwnames) noexcept {
  return BindArguments(signatures.max_id, args, nargsf, kwnames, nullptr)
             ? IntOrTraceback(signatures.max_id, [&] { return Function(self).MaxId(); })
             : nullptr;
}

PyObject* Constant(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames) noexcept {
  return BindArguments(signatures.constant, args, nargsf, kwnames, nullptr)
             ? IntOrTraceback(signatures.constant, [&] { return Function(self).constant; })
             : nullptr;
}

PyObject* GetString(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames) noexcept {
  PyObject* result = nullptr;
  if (BindArguments(signatures.get_string, args, nargsf, kwnames, nullptr)) {
    Guarded([&] {
      const std::string text = Function(self).GetString();
      result = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
      return result != nullptr;
    });
    if (!result) AddMethodTraceback(signatures.get_string);
  }
  return result;
}

// A PBF cannot be rebuilt from a pickled state, so pickling and copy.copy are refused.
void RefusePickling() {
  PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
}

PyObject* ReduceCython(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                       PyObject* kwnames) noexcept {
  if (BindArguments(signatures.reduce_cython, args, nargsf, kwnames, nullptr)) {
    RefusePickling();
    AddMethodTraceback(signatures.reduce_cython);
  }
  return nullptr;
}

PyObject* SetstateCython(PyObject*, PyObject* const* args, Py_ssize_t nargsf,
                         PyObject* kwnames) noexcept {
  PyObject* state = nullptr;
  if (BindArguments(signatures.setstate_cython, args, nargsf, kwnames, &state)) RefusePickling();
  AddMethodTraceback(signatures.setstate_cython);
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
    {signatures.copy.name, AsCFunction(Copy), kFast, "copy($self)\n--\n\n"},
    {signatures.copy_from.name, AsCFunction(CopyFrom), kFast, "copy_from($self, other)\n--\n\n"},
    {signatures.add_unary_term.name, AsCFunction(AddUnaryTerm), kFast,
     "add_unary_term($self, i, E0, E1)\n--\n\n"},
    {signatures.add_pairwise_term.name, AsCFunction(AddPairwiseTerm), kFast,
     "add_pairwise_term($self, i, j, E00, E01, E10, E11)\n--\n\n"},
    {signatures.add_higher_term.name, AsCFunction(AddHigherTerm), kFast,
     "add_higher_term($self, cliquesize, vars, vals)\n--\n\n"},
    {signatures.shrink.name, AsCFunction(Shrink), kFast, "shrink($self)\n--\n\n"},
    {signatures.print.name, AsCFunction(Print), kFast, "print($self)\n--\n\n"},
    {signatures.reduce_higher.name, AsCFunction(ReduceHigher), kFast,
     "reduce_higher($self)\n--\n\n"},
    {signatures.reduce_higher_approx.name, AsCFunction(ReduceHigherApprox), kFast,
     "reduce_higher_approx($self)\n--\n\n"},
    {signatures.to_quadratic.name, AsCFunction(ToQuadratic), kFast,
     "to_quadratic($self, qpbf, newvar)\n--\n\n"},
    {signatures.max_d.name, AsCFunction(MaxD), kFast, "max_d($self)\n--\n\n"},
    {signatures.max_id.name, AsCFunction(MaxId), kFast, "max_id($self)\n--\n\n"},
    {signatures.constant.name, AsCFunction(Constant), kFast, "constant($self)\n--\n\n"},
    {signatures.get_string.name, AsCFunction(GetString), kFast, "get_string($self)\n--\n\n"},
    // Moved to __reduce__ and __setstate__ once the type is ready (SetUpPickling).
    {kReduceCythonName, AsCFunction(ReduceCython), kFast, "__reduce_cython__($self)\n--\n\n"},
    {kSetstateCythonName, AsCFunction(SetstateCython), kFast,
     "__setstate_cython__($self, state)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// Moves the type's attribute `from` to `to`.
bool RenameTypeAttribute(const char* from, const char* to) {
  PyObject* dict = PyPBFType.tp_dict;
  PyRef method = PyRef::borrow(PyDict_GetItemString(dict, from));
  return method && PyDict_SetItemString(dict, to, method.get()) == 0 &&
         PyDict_DelItemString(dict, from) == 0;
}

}  // namespace

bool ReadyType() {
  for (Signature* sig : kAllSignatures) {
    if (!InternNames(*sig)) return false;
  }
  return PyType_Ready(&PyPBFType) == 0;
}

bool SetUpPickling() {
  if (type_ready) return true;
  type_ready = RenameTypeAttribute(kReduceCythonName, "__reduce__") &&
               RenameTypeAttribute(kSetstateCythonName, "__setstate__");
  PyType_Modified(&PyPBFType);
  if (!type_ready && !PyErr_Occurred()) {
    PyErr_Format(PyExc_RuntimeError, "Unable to initialize pickling for %.200s", PyPBFType.tp_name);
  }
  return type_ready;
}

// The interpreter's structs are written with designated initialisers; every member not named is
// meant to be zero, which is what GCC's missing-initialiser warning would complain about.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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
