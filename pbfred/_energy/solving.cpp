#include "solving.h"

#include <nanobind/stl/function.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/string_view.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "minimize.h"
#include "ndarrays.h"
#include "pbf.h"
#include "pypbf_arg.h"
#include "quadratize.h"
#include "render.h"
#include "roof_dual_solver.h"

namespace pbfred::energy {
namespace {

// The first term of degree >= 3 with a non-zero coefficient, in the order of the text form.
std::optional<pbf::TermPosition> FirstHigherTerm(const pbf::PBF& q) {
  for (int32_t d = 3; d < static_cast<int32_t>(q.terms.tables.size()); ++d) {
    if (!q.terms.HasTable(d)) continue;
    const pbf::TermTable& table = q.terms.Table(d);
    for (int32_t t = 0; t < table.Size(); ++t) {
      if (table.Coef(t) != 0) return pbf::TermPosition{d, t};
    }
  }
  return std::nullopt;
}

std::string TermAt(const pbf::PBF& f, pbf::TermPosition at) {
  const pbf::TermTable& table = f.terms.Table(at.degree);
  return pbf::TermString(table.Coef(at.index), table.Ids(at.index), at.degree);
}

pbf::QuadratizeMethod MethodNamed(const std::string& name) {
  if (name == "termwise") return pbf::QuadratizeMethod::kTermwise;
  if (name == "fewest") return pbf::QuadratizeMethod::kFewest;
  if (name == "grouped") return pbf::QuadratizeMethod::kGrouped;
  if (name == "auto") return pbf::QuadratizeMethod::kAuto;
  throw nb::value_error("method must be 'termwise', 'fewest', 'grouped' or 'auto'");
}

// (labels int8 over ids 0 .. q.max_id(), lower bound). The solve runs on a private copy of q's
// tables (all that roof duality reads), so the GIL is released for it.
nb::tuple RoofDuality(nb::handle q) {
  const pbf::PBF& function = FunctionArg(q, "q");
  if (const std::optional<pbf::TermPosition> higher = FirstHigherTerm(function)) {
    const std::string message =
        "roof_duality needs terms of degree <= 2 (or with coefficient "
        "0), but q has the term " +
        TermAt(function, *higher) + " of degree " + std::to_string(higher->degree);
    throw nb::value_error(message.c_str());
  }
  pbf::PBF tables;
  tables.constant = function.constant;
  tables.terms.tables = function.terms.tables;
  pbf::RoofDual rd;
  {
    nb::gil_scoped_release release;
    rd = pbf::RoofDualityConsuming(std::move(tables), nullptr);
  }
  const size_t n = rd.labels.size();
  return nb::make_tuple(ToNumpy(std::move(rd.labels), {n}), nb::int_(rd.lower_bound));
}

// A new PyPBF holding the quadratization of f.
nb::object Quadratize(nb::handle f, const std::string& method, int32_t newvar) {
  const pbf::PBF& function = FunctionArg(f);
  const pbf::QuadratizeMethod rule = MethodNamed(method);
  auto [made, out] = NewPyPBF();
  if (const std::optional<pbf::TermPosition> failed =
          pbf::Quadratize(function, rule, newvar, *out)) {
    const std::string message = "the term " + TermAt(function, *failed) + " of f (degree " +
                                std::to_string(failed->degree) + ", index " +
                                std::to_string(failed->index) +
                                ") has no quadratic form here whose coefficients and auxiliary "
                                "ids fit int32";
    PyErr_SetString(PyExc_OverflowError, message.c_str());
    throw nb::python_error();
  }
  return made;
}

// (labels uint8, persistent bool, lower bound, energy). The road runs on a private copy of f with
// the GIL released; `progress(stage, seconds)`, when given, is called with the GIL held. An error
// it raises stops further reports and is raised once the road is done.
nb::tuple Minimize(nb::handle f, bool improve, bool probe, const std::string& method,
                   nb::object progress) {
  pbf::MinimizeOptions options;
  options.improve = improve;
  options.probe = probe;
  options.method = MethodNamed(method);
  pbf::PBF copy = FunctionArg(f);
  std::optional<nb::python_error> raised;
  if (!progress.is_none()) {
    options.progress = [&](std::string_view stage, double seconds) {
      nb::gil_scoped_acquire acquire;
      if (raised) return;
      try {
        progress(stage, seconds);
      } catch (nb::python_error& e) {
        raised.emplace(std::move(e));
      }
    };
  }
  pbf::Minimum m;
  {
    nb::gil_scoped_release release;
    m = pbf::Minimize(std::move(copy), options);
  }
  if (raised) throw std::move(*raised);
  if (m.unwritable) {
    const pbf::UnwritableTerm& term = *m.unwritable;
    const std::string message =
        "the reduced energy has the term " +
        pbf::TermString(term.coef, term.ids.data(), static_cast<int32_t>(term.ids.size())) +
        ", whose quadratic form needs a coefficient outside int32 with the method '" + method + "'";
    PyErr_SetString(PyExc_OverflowError, message.c_str());
    throw nb::python_error();
  }
  const size_t n = m.labels.size();
  return nb::make_tuple(ToNumpy(std::move(m.labels), {n}), ToNumpyBool(std::move(m.persistent), n),
                        nb::int_(m.lower_bound), nb::int_(m.energy));
}

}  // namespace

void BindSolving(nb::module_& m) {
  m.def("roof_duality", &RoofDuality, nb::arg("q").none());
  m.def("quadratize", &Quadratize, nb::arg("f").none(), nb::arg("method"), nb::arg("newvar"));
  m.def("minimize", &Minimize, nb::arg("f").none(), nb::arg("improve"), nb::arg("probe"),
        nb::arg("method"), nb::arg("progress").none());
}

}  // namespace pbfred::energy
