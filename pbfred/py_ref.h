// A move-only owner of one strong reference to a Python object.
//
// Ownership rules of the binding, in one place:
// - A `PyRef` owns exactly one strong reference or nothing (null), and drops it when destroyed.
// - `PyRef::steal(p)` takes over a reference that the caller already owns: what the C API calls a
//   "new reference" (PyObject_CallNoArgs, PyLong_FromLong, tp_alloc ...). A null `p` gives an
//   empty owner, so a failed call can be stolen and tested afterwards.
// - `PyRef::borrow(p)` takes a reference of its own to an object that the caller only borrows
//   (an argument, an item read in place from a list), so that the object stays alive even when
//   running Python code (an `__int__`) lets the lender drop it.
// - `get()` lends the pointer; the owner keeps its reference.
// - `release()` hands the reference over and leaves the owner empty. It is used only where
//   ownership passes to the interpreter: the value a C entry point returns.
// Arguments that an entry point receives, and values handed out by `get()`, are borrowed: never
// decremented by the code that receives them.
#pragma once

#include <Python.h>

#include <utility>

namespace pbfred {

class PyRef {
 public:
  PyRef() noexcept = default;
  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  ~PyRef() { Py_XDECREF(object_); }

  static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  static PyRef borrow(PyObject* object) noexcept { return PyRef(Py_XNewRef(object)); }

  PyObject* get() const noexcept { return object_; }
  PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace pbfred
