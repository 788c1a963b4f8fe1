// Traceback entries for errors raised in C++.
//
// A failure inside a method shows up in the Python traceback as if a Python function named after
// the method ("pbfred.PyPBF.add_higher_term") had been running, so that a user sees which call
// failed. The entry is made through the public API: an empty code object (PyCode_NewEmpty) gives
// the name, file and line, a frame (PyFrame_New) is made from it, and PyTraceBack_Here appends
// that frame to the traceback of the pending exception. The private helper that does the same in
// one call moved into the interpreter's internal headers in later versions.
#pragma once

#include <Python.h>

#include <source_location>

namespace pbfred {

// Appends an entry named `function` to the traceback of the pending exception; the file and line
// are those of `where` in the binding's sources. `globals` is the dictionary the frame runs in
// (the module's namespace) or null. Does nothing when no exception is pending, and leaves the
// exception as it is when the entry cannot be made.
void AddTraceback(const char* function, PyObject* globals,
                  std::source_location where = std::source_location::current()) noexcept;

}  // namespace pbfred
