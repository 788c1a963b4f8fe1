#include "traceback.h"

#include <frameobject.h>  // PyFrame_New

#include <cstring>

#include "errors.h"
#include "py_ref.h"

namespace pbfred {
namespace {

// The file name without its directories: build paths mean nothing to the reader of a traceback.
const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? slash + 1 : path;
}

}  // namespace

void AddTraceback(const char* function, PyObject* globals, std::source_location where) noexcept {
  if (!PyErr_Occurred()) return;
  PyRef frame;
  {
    // The code object and the frame are made with the error set aside, so that a failure while
    // making them cannot replace it.
    PendingError pending;
    PyRef code = PyRef::steal(reinterpret_cast<PyObject*>(
        PyCode_NewEmpty(BaseName(where.file_name()), function, static_cast<int>(where.line()))));
    PyRef scope = globals ? PyRef::borrow(globals) : PyRef::steal(PyDict_New());
    if (code && scope) {
      frame = PyRef::steal(reinterpret_cast<PyObject*>(PyFrame_New(
          PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), scope.get(), nullptr)));
    }
    PyErr_Clear();  // whatever failed above, the pending error is the one to report
  }
  if (frame) PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

}  // namespace pbfred
