// Energy tables and terms added from arrays: add_unaries, add_pairs, add_cliques, add_terms.
#pragma once

#include <nanobind/nanobind.h>

namespace pbfred::energy {

void BindBulkEdits(nanobind::module_& m);

}  // namespace pbfred::energy
