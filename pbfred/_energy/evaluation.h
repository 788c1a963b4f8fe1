// The values of a function at labellings: evaluate.
#pragma once

#include <nanobind/nanobind.h>

namespace pbfred::energy {

void BindEvaluation(nanobind::module_& m);

}  // namespace pbfred::energy
