// pbfred._energy: the compiled half of pbfred.energy. The Python half (energy.py) validates and
// converts every argument (shapes, dtypes, value ranges) before it calls in here, so these
// functions take C-contiguous int32 (or uint8) arrays that are known to be well-formed, and a
// rejected call has changed nothing. They still check what memory safety depends on (shapes,
// ids >= 0, a wide enough x) with terse messages, for a direct caller of this private module.
//
// The GIL is released only around work on private copies (roof_duality, minimize): every other
// function reads or edits a user's PyPBF, which another thread could otherwise change under it.
#include <nanobind/nanobind.h>

#include <new>
#include <stdexcept>

#include "arrays.h"
#include "bulk_edits.h"
#include "evaluation.h"
#include "pypbf_arg.h"
#include "solving.h"

NB_MODULE(_energy, m) {
  namespace nb = nanobind;
  namespace energy = pbfred::energy;
  energy::RememberPyPBFType(nb::module_::import_("pbfred").attr("PyPBF"));
  // A container asked to exceed its largest size cannot grow that far: for the caller that is
  // running out of memory, as the pbfred binding reports it too (nanobind would say ValueError).
  nb::register_exception_translator([](const std::exception_ptr& p, void*) {
    try {
      std::rethrow_exception(p);
    } catch (const std::length_error&) {
      PyErr_NoMemory();
    }
  });
  // Every `f` is bound with none(), so that None reaches the binding's own type test too.
  m.def(
      "check_function", [](nb::handle f) { energy::FunctionArg(f); }, nb::arg("f").none());
  energy::BindArrays(m);
  energy::BindBulkEdits(m);
  energy::BindEvaluation(m);
  energy::BindSolving(m);
}
