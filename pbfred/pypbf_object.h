// The instance layout of `PyPBF`, in one place.
//
// The type object is defined by the module; this header only says what an instance holds, so that
// the companion extension (pbfred._energy) can reach the function a `PyPBF` owns. Nothing but this
// header may assume the layout. Callers outside the module first check the type (against the
// `PyPBF` they look up in the imported `pbfred` module) and then use `FunctionOf`.
#pragma once

#include <Python.h>

#include <memory>

#include "pbf.h"

namespace pbfred {

struct PyPBFObject {
  PyObject_HEAD std::unique_ptr<pbf::PBF> pbf;  // null only while construction has not finished
};

// The owner of an instance's function. `object` must be an instance of PyPBF or a subclass.
inline std::unique_ptr<pbf::PBF>& OwnerOf(PyObject* object) {
  return reinterpret_cast<PyPBFObject*>(object)->pbf;
}

// The function of an instance, or null when its construction never finished (only a subclass's
// __del__ can meet such an instance). `object` must be an instance of PyPBF or a subclass.
inline pbf::PBF* FunctionOf(PyObject* object) { return OwnerOf(object).get(); }

}  // namespace pbfred
