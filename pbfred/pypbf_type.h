// What the type (pypbf_type.cpp) and the module's initialisation (module.cpp) share. The layout of
// an instance is pypbf_object.h's alone.
#pragma once

#include <Python.h>

namespace pbfred {

// The type object of PyPBF (pypbf_type.cpp).
extern PyTypeObject PyPBFType;

// The working names of the pickling refusals: methods of the type until SetUpPickling renames
// them, and attributes of the module namespace for good.
inline constexpr char kReduceCythonName[] = "__reduce_cython__";
inline constexpr char kSetstateCythonName[] = "__setstate_cython__";

// Interns the methods' parameter names and readies the type; false with the exception set.
bool ReadyType();

// Moves the pickling refusals to __reduce__ and __setstate__, once per process; false with an
// exception set when that fails.
bool SetUpPickling();

// The module's namespace, the globals of the type's traceback entries; null until the module has
// been executed (module.cpp).
PyObject* ModuleGlobals();

}  // namespace pbfred
