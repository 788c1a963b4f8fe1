#include "arrays.h"

#include <nanobind/stl/pair.h>

#include <cstdint>

#include "ndarrays.h"
#include "pbf.h"
#include "pypbf_arg.h"

namespace pbfred::energy {
namespace {

// {degree: (ids of shape (n, degree), coefs of shape (n,))} for every present table.
nb::dict Terms(nb::handle f) {
  const pbf::PBF& function = FunctionArg(f);
  nb::dict result;
  for (size_t d = 1; d < function.terms.tables.size(); ++d) {
    const auto& table = function.terms.tables[d];
    if (!table) continue;
    const size_t n = table->coefs.size();
    nb::object ids = nb::cast(ToNumpy(std::vector<int32_t>(table->vars), {n, d}));
    nb::object coefs = nb::cast(ToNumpy(std::vector<int32_t>(table->coefs), {n}));
    result[nb::int_(d)] = nb::make_tuple(ids, coefs);
  }
  return result;
}

}  // namespace

void BindArrays(nb::module_& m) { m.def("terms", &Terms, nb::arg("f")); }

}  // namespace pbfred::energy
