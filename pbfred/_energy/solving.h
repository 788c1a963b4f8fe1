// Roof duality, quadratizations and minimisation, from pbfred.energy.
#pragma once

#include <nanobind/nanobind.h>

namespace pbfred::energy {

void BindSolving(nanobind::module_& m);

}  // namespace pbfred::energy
