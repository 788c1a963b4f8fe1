#include "pypbf_arg.h"

#include "pypbf_object.h"

namespace pbfred::energy {
namespace {

// Held for the life of the process: the pbfred module is never unloaded.
PyTypeObject* pypbf_type = nullptr;

}  // namespace

void RememberPyPBFType(nb::handle type) {
  pypbf_type = reinterpret_cast<PyTypeObject*>(type.inc_ref().ptr());
}

nb::handle PyPBFType() { return reinterpret_cast<PyObject*>(pypbf_type); }

pbf::PBF& FunctionArg(nb::handle object, const char* param) {
  if (!PyObject_TypeCheck(object.ptr(), pypbf_type)) {
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", param,
                 pypbf_type->tp_name, Py_TYPE(object.ptr())->tp_name);
    throw nb::python_error();
  }
  pbf::PBF* function = FunctionOf(object.ptr());
  // Only a subclass's __del__ can meet an instance whose construction failed.
  if (!function) throw std::runtime_error("the PyPBF object was not constructed");
  return *function;
}

std::pair<nb::object, pbf::PBF*> NewPyPBF() {
  nb::object made = nb::borrow(PyPBFType())();
  return {made, FunctionOf(made.ptr())};
}

}  // namespace pbfred::energy
