// Terms in and out as arrays: bulk edits, the stored terms as arrays, evaluation.
#pragma once

#include <nanobind/nanobind.h>

namespace pbfred::energy {

void BindArrays(nanobind::module_& m);

}  // namespace pbfred::energy
