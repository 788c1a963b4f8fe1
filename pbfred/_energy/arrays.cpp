#include "arrays.h"

#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "bulk_edit.h"
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

using Block = std::tuple<int32_t, Input<int32_t>, Input<int32_t>>;

// A new PyPBF with this constant and these tables: (degree, ids (n, degree), coefs (n,)) each,
// distinct degrees >= 1.
nb::object FromTerms(int32_t constant, const std::vector<Block>& blocks) {
  std::vector<pbf::TermBlock> tables;
  tables.reserve(blocks.size());
  for (const auto& [degree, ids, coefs] : blocks) {
    if (degree < 1 || ids.ndim() != 2 || ids.shape(1) != static_cast<size_t>(degree) ||
        coefs.ndim() != 1 || coefs.shape(0) != ids.shape(0)) {
      throw nb::value_error("each table must be (degree >= 1, ids (n, degree), coefs (n,))");
    }
    for (const pbf::TermBlock& other : tables) {
      if (other.degree == degree) throw nb::value_error("degrees must be distinct");
    }
    RequireIds(ids);
    tables.push_back({degree, ids.shape(0), ids.data(), coefs.data()});
  }
  auto [made, function] = NewPyPBF();
  function->constant = constant;
  pbf::AddTermBlocks(*function, tables);
  return made;
}

}  // namespace

void BindArrays(nb::module_& m) {
  m.def("terms", &Terms, nb::arg("f").none());
  m.def("from_terms", &FromTerms, nb::arg("constant"), nb::arg("blocks"));
}

}  // namespace pbfred::energy
