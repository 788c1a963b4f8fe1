#include "errors.h"

#include <exception>
#include <new>
#include <stdexcept>

namespace pbfred {

void SetErrorFromCppException() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::length_error&) {
    // A container asked to exceed its largest possible size: the function cannot grow that far,
    // which for the caller is the same as running out of memory.
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_RuntimeError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "unknown C++ exception");
  }
}

#if PY_VERSION_HEX >= 0x030C0000
PendingError::PendingError() noexcept : exception_(PyErr_GetRaisedException()) {}
PendingError::~PendingError() { PyErr_SetRaisedException(exception_); }
#else
PendingError::PendingError() noexcept { PyErr_Fetch(&type_, &value_, &traceback_); }
PendingError::~PendingError() { PyErr_Restore(type_, value_, traceback_); }
#endif

}  // namespace pbfred
