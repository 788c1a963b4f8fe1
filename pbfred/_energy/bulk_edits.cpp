#include "bulk_edits.h"

#include <cstdint>

#include "bulk_edit.h"
#include "ndarrays.h"
#include "pypbf_arg.h"

namespace pbfred::energy {
namespace {

using Ints = Input<int32_t>;

// The number of rows: the columns are one-dimensional, all of one length.
size_t Rows(std::initializer_list<const Ints*> columns) {
  for (const Ints* c : columns) {
    if (c->ndim() != 1 || c->shape(0) != (*columns.begin())->shape(0)) {
      throw nb::value_error("columns must be one-dimensional, of one length");
    }
  }
  return (*columns.begin())->shape(0);
}

void AddUnaries(nb::handle f, Ints ids, Ints e0, Ints e1) {
  pbf::PBF& function = FunctionArg(f);
  const size_t rows = Rows({&ids, &e0, &e1});
  RequireIds(ids);
  pbf::AddUnaryTerms(function, rows, ids.data(), e0.data(), e1.data());
}

void AddPairs(nb::handle f, Ints i, Ints j, Ints e00, Ints e01, Ints e10, Ints e11) {
  pbf::PBF& function = FunctionArg(f);
  const size_t rows = Rows({&i, &j, &e00, &e01, &e10, &e11});
  RequireIds(i);
  RequireIds(j);
  pbf::AddPairwiseTerms(function, rows, i.data(), j.data(), e00.data(), e01.data(), e10.data(),
                        e11.data());
}

void AddCliques(nb::handle f, Ints vars, Ints vals) {
  pbf::PBF& function = FunctionArg(f);
  if (vars.ndim() != 2 || vars.shape(1) > 30) throw nb::value_error("vars must be (rows, <= 30)");
  const size_t rows = vars.shape(0);
  const auto k = static_cast<int32_t>(vars.shape(1));
  const size_t size = size_t{1} << k;
  const bool shared = vals.ndim() == 1;
  if (shared ? vals.shape(0) != size
             : vals.ndim() != 2 || vals.shape(0) != rows || vals.shape(1) != size) {
    throw nb::value_error("vals must be (rows, 2**k) or (2**k,)");
  }
  RequireIds(vars);
  pbf::AddHigherTerms(function, rows, k, vars.data(), vals.data(), shared);
}

void AddTerms(nb::handle f, Ints ids, Ints coefs) {
  pbf::PBF& function = FunctionArg(f);
  if (ids.ndim() != 2 || ids.shape(1) < 1 || ids.shape(1) > INT32_MAX || coefs.ndim() != 1 ||
      coefs.shape(0) != ids.shape(0)) {
    throw nb::value_error("ids must be (rows, degree >= 1) and coefs (rows,)");
  }
  RequireIds(ids);
  pbf::AddTerms(function, ids.shape(0), static_cast<int32_t>(ids.shape(1)), ids.data(),
                coefs.data());
}

}  // namespace

void BindBulkEdits(nb::module_& m) {
  m.def("add_unaries", &AddUnaries, nb::arg("f").none(), nb::arg("ids").noconvert(),
        nb::arg("E0").noconvert(), nb::arg("E1").noconvert());
  m.def("add_pairs", &AddPairs, nb::arg("f").none(), nb::arg("i").noconvert(),
        nb::arg("j").noconvert(), nb::arg("E00").noconvert(), nb::arg("E01").noconvert(),
        nb::arg("E10").noconvert(), nb::arg("E11").noconvert());
  m.def("add_cliques", &AddCliques, nb::arg("f").none(), nb::arg("vars").noconvert(),
        nb::arg("vals").noconvert());
  m.def("add_terms", &AddTerms, nb::arg("f").none(), nb::arg("ids").noconvert(),
        nb::arg("coefs").noconvert());
}

}  // namespace pbfred::energy
