// The stored terms as arrays, out (terms) and back in (from_terms).
#pragma once

#include <nanobind/nanobind.h>

namespace pbfred::energy {

void BindArrays(nanobind::module_& m);

}  // namespace pbfred::energy
