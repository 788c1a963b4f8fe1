// pbfred._energy: the compiled half of pbfred.energy. The Python half (energy.py) validates and
// converts every argument (shapes, dtypes, value ranges) before it calls in here, so these
// functions take C-contiguous int32 (or uint8) arrays that are known to be well-formed, and a
// rejected call has changed nothing.
#include <nanobind/nanobind.h>

#include "arrays.h"
#include "pypbf_arg.h"

NB_MODULE(_energy, m) {
  namespace energy = pbfred::energy;
  energy::RememberPyPBFType(nanobind::module_::import_("pbfred").attr("PyPBF"));
  energy::BindArrays(m);
}
