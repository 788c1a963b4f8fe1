// Argument binding and integer conversion for the methods of PyPBF.
//
// Methods use the fast calling convention (an array of positional values followed by the values
// of the keywords named in a tuple), so no argument tuple or dictionary is built per call. All
// parameters of a method are required; construction has one optional parameter and receives the
// classic tuple and dictionary. The binding only collects borrowed references; converting them
// (`AsInt32`, `ReadInt32Items`) is a separate step, so that a method can convert everything
// before it changes anything.
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace pbfred {

inline constexpr Py_ssize_t kMaxParams = 6;

// The name of a method and of its parameters, as binding errors and keywords use them.
// `interned` holds the interned parameter names once `InternNames` has run, so that keywords,
// which the interpreter passes as interned strings, are found by identity first.
struct Signature {
  constexpr Signature(const char* method, std::initializer_list<const char*> names)
      : name(method), count(static_cast<Py_ssize_t>(names.size())) {
    Py_ssize_t p = 0;
    for (const char* n : names) params[static_cast<size_t>(p++)] = n;
  }

  const char* name;
  Py_ssize_t count;
  std::array<const char*, kMaxParams> params{};
  std::array<PyObject*, kMaxParams> interned{};
};

// Interns the parameter names once per process (they live as long as the process).
bool InternNames(Signature& sig) noexcept;

// Binds the `sig.count` required parameters of a fast call into `values` (borrowed references,
// `sig.count` entries). False with TypeError set on a count or keyword error.
bool BindArguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                   PyObject* kwnames, PyObject** values) noexcept;

// Binds the single optional parameter of `sig` from an argument tuple and keyword dictionary:
// `*value` is the borrowed argument, or null when it was not given.
bool BindOptional(const Signature& sig, PyObject* args, PyObject* kwds, PyObject** value) noexcept;

// Converts an int (or any object with __int__) to int32. False with the exception set when the
// object is no integer or its value does not fit.
bool AsInt32(PyObject* object, int32_t* out) noexcept;

// Reads items 0 ... count-1 of `items` (anything indexable by 0, 1, ...), each through AsInt32.
// Items past `count` are never read.
bool ReadInt32Items(PyObject* items, int32_t* out, size_t count) noexcept;

}  // namespace pbfred
