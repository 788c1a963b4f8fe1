#include "evaluation.h"

#include <cstdint>
#include <string>
#include <vector>

#include "evaluate_batch.h"
#include "ndarrays.h"
#include "pypbf_arg.h"

namespace pbfred::energy {
namespace {

// The values at the rows of x, labellings of shape (k, m) with 0 or 1 in each byte; m must
// cover every variable of f.
NumpyArray<int64_t> Evaluate(nb::handle f, Input<uint8_t> x) {
  const pbf::PBF& function = FunctionArg(f);
  if (x.ndim() != 2) throw nb::value_error("x must be (labellings, variables)");
  const size_t rows = x.shape(0), width = x.shape(1);
  const int32_t max_id = function.MaxId();
  if (static_cast<int64_t>(width) <= max_id) {
    const std::string message =
        "x covers " + std::to_string(width) +
        " variables, f needs max_id() + 1 = " + std::to_string(int64_t{max_id} + 1);
    throw nb::value_error(message.c_str());
  }
  std::vector<int64_t> energies(rows);
  pbf::EvaluateBatch(function, x.data(), rows, width, energies.data());
  return ToNumpy(std::move(energies), {rows});
}

}  // namespace

void BindEvaluation(nb::module_& m) {
  m.def("evaluate", &Evaluate, nb::arg("f").none(), nb::arg("x").noconvert());
}

}  // namespace pbfred::energy
