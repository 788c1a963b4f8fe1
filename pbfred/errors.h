// The boundary between C++ exceptions and Python exceptions.
//
// No C++ exception may unwind into the interpreter: every entry point runs the code that can
// throw (the core's operations, scratch allocations) inside `Guarded`, which turns the exception
// into the matching Python exception:
// - std::bad_alloc and std::length_error, the only ones the core throws, become MemoryError.
// - std::logic_error is thrown on purpose by the binding when a method meets an instance whose
//   construction never finished (only a subclass's __del__ can); like any other std::exception it
//   becomes RuntimeError with its message ("the PyPBF object was not constructed").
// - Anything else becomes RuntimeError("unknown C++ exception"); nothing throws one today.
#pragma once

#include <Python.h>

namespace pbfred {

// Sets the Python exception for the C++ exception being handled. Call only inside a catch block.
void SetErrorFromCppException() noexcept;

// Runs `op`, which returns false after setting a Python exception itself. A C++ exception thrown
// by `op` becomes a Python exception and a false result.
template <typename Op>
bool Guarded(Op&& op) noexcept {
  try {
    return op();
  } catch (...) {
    SetErrorFromCppException();
    return false;
  }
}

// Sets the pending Python exception (if any) aside for the lifetime of the object and restores
// it afterwards, for code that must run, and may use the C API, while an error is pending.
class PendingError {
 public:
  PendingError() noexcept;
  ~PendingError();
  PendingError(const PendingError&) = delete;
  PendingError& operator=(const PendingError&) = delete;

 private:
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* exception_;
#else
  PyObject* type_;
  PyObject* value_;
  PyObject* traceback_;
#endif
};

}  // namespace pbfred
