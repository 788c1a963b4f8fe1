#include "args.h"

#include <algorithm>
#include <limits>

#include "py_ref.h"

namespace pbfred {
namespace {

bool RaiseCountError(const Signature& sig, const char* qualifier, Py_ssize_t given) {
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
               sig.name, qualifier, sig.count, sig.count == 1 ? "" : "s", given);
  return false;
}

bool NamesParam(const Signature& sig, Py_ssize_t p, PyObject* key) {
  return PyUnicode_Check(key) && PyUnicode_CompareWithASCIIString(key, sig.params[p]) == 0;
}

// The position of parameter p's name in `kwnames`, or -1.
Py_ssize_t FindKeyword(const Signature& sig, Py_ssize_t p, PyObject* kwnames) {
  const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; k < n; ++k) {
    if (PyTuple_GET_ITEM(kwnames, k) == sig.interned[p]) return k;
  }
  for (Py_ssize_t k = 0; k < n; ++k) {
    if (NamesParam(sig, p, PyTuple_GET_ITEM(kwnames, k))) return k;
  }
  return -1;
}

// A keyword left over after binding: fine when it names a parameter that keywords bound (the
// first `positional` parameters were bound by position), otherwise the error for it.
bool CheckLeftoverKeyword(const Signature& sig, Py_ssize_t positional, PyObject* key) {
  for (Py_ssize_t p = positional; p < sig.count; ++p) {
    if (key == sig.interned[p]) return true;
  }
  if (!PyUnicode_Check(key)) {
    PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", sig.name);
    return false;
  }
  for (Py_ssize_t p = positional; p < sig.count; ++p) {
    if (NamesParam(sig, p, key)) return true;
  }
  for (Py_ssize_t p = 0; p < positional; ++p) {
    if (NamesParam(sig, p, key)) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", sig.name,
                   key);
      return false;
    }
  }
  PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
  return false;
}

bool LongAsInt32(PyObject* object, int32_t* out) {
  int overflow = 0;
  const long long value = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (value == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || value < std::numeric_limits<int32_t>::min() ||
      value > std::numeric_limits<int32_t>::max()) {
    PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
    return false;
  }
  *out = static_cast<int32_t>(value);
  return true;
}

// Item `index` of `items` as a new reference. Exact lists and tuples are read in place; an index
// past their end, and every other object, go through the generic item access, which raises the
// object's own IndexError or TypeError.
PyRef FetchItem(PyObject* items, Py_ssize_t index) {
  if (PyList_CheckExact(items) && index < PyList_GET_SIZE(items)) {
    return PyRef::borrow(PyList_GET_ITEM(items, index));
  }
  if (PyTuple_CheckExact(items) && index < PyTuple_GET_SIZE(items)) {
    return PyRef::borrow(PyTuple_GET_ITEM(items, index));
  }
  PyRef key = PyRef::steal(PyLong_FromSsize_t(index));
  return key ? PyRef::steal(PyObject_GetItem(items, key.get())) : PyRef();
}

}  // namespace

bool InternNames(Signature& sig) noexcept {
  for (Py_ssize_t p = 0; p < sig.count; ++p) {
    if (!sig.interned[p]) sig.interned[p] = PyUnicode_InternFromString(sig.params[p]);
    if (!sig.interned[p]) return false;
  }
  return true;
}

bool BindArguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames, PyObject** values) noexcept {
  const Py_ssize_t given = PyVectorcall_NARGS(nargsf);
  const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  if (given > sig.count || (keywords == 0 && given != sig.count)) {
    return RaiseCountError(sig, "exactly", given);
  }
  std::copy(args, args + given, values);
  PyObject* const* keyword_values = args + given;
  for (Py_ssize_t p = given; p < sig.count; ++p) {
    const Py_ssize_t k = FindKeyword(sig, p, kwnames);
    // Reported as a count error at the first parameter that nothing binds.
    if (k < 0) return RaiseCountError(sig, "exactly", p);
    values[p] = keyword_values[k];
  }
  if (sig.count - given == keywords) return true;
  for (Py_ssize_t k = 0; k < keywords; ++k) {
    if (!CheckLeftoverKeyword(sig, given, PyTuple_GET_ITEM(kwnames, k))) return false;
  }
  return true;
}

bool BindOptional(const Signature& sig, PyObject* args, PyObject* kwds, PyObject** value) noexcept {
  const Py_ssize_t given = PyTuple_GET_SIZE(args);
  if (given > 1) return RaiseCountError(sig, "at most", given);
  *value = given == 1 ? PyTuple_GET_ITEM(args, 0) : nullptr;
  Py_ssize_t left = kwds ? PyDict_GET_SIZE(kwds) : 0;
  if (left > 0 && given == 0) {
    if (PyObject* found = PyDict_GetItemWithError(kwds, sig.interned[0])) {
      *value = found;
      --left;
    } else if (PyErr_Occurred()) {
      return false;
    }
  }
  PyObject* key = nullptr;
  PyObject* unused = nullptr;
  for (Py_ssize_t pos = 0; left > 0 && PyDict_Next(kwds, &pos, &key, &unused);) {
    if (!CheckLeftoverKeyword(sig, given, key)) return false;
  }
  return true;
}

bool AsInt32(PyObject* object, int32_t* out) noexcept {
  if (PyLong_Check(object)) return LongAsInt32(object, out);
  const PyNumberMethods* number = Py_TYPE(object)->tp_as_number;
  PyRef converted = PyRef::steal(number && number->nb_int ? number->nb_int(object) : nullptr);
  if (!converted) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "an integer is required");
    return false;
  }
  if (!PyLong_Check(converted.get())) {
    PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                 Py_TYPE(converted.get())->tp_name);
    return false;
  }
  if (!PyLong_CheckExact(converted.get()) &&
      PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                       "__int__ returned non-int (type %.200s).  The ability to return an "
                       "instance of a strict subclass of int is deprecated, and may be removed "
                       "in a future version of Python.",
                       Py_TYPE(converted.get())->tp_name) < 0) {
    return false;
  }
  return LongAsInt32(converted.get(), out);
}

bool ReadInt32Items(PyObject* items, int32_t* out, size_t count) noexcept {
  for (size_t k = 0; k < count; ++k) {
    PyRef item = FetchItem(items, static_cast<Py_ssize_t>(k));
    if (!item || !AsInt32(item.get(), &out[k])) return false;
  }
  return true;
}

}  // namespace pbfred
