// Reaching the function a `PyPBF` owns from the companion extension.
//
// The type object lives in the `pbfred` module (a separate extension), so it is looked up once
// when this extension is imported and every `f` argument is tested against it (subclasses pass)
// before its instance layout, known only to pypbf_object.h, is used.
#pragma once

#include <nanobind/nanobind.h>

#include "pbf.h"

namespace pbfred::energy {

namespace nb = nanobind;

// Records the `PyPBF` type of the imported `pbfred` module; called once at import.
void RememberPyPBFType(nb::handle type);

// The PyPBF type, for making new instances.
nb::handle PyPBFType();

// The function of `object`, which must be a PyPBF: otherwise the binding's TypeError
// "Argument '<param>' has incorrect type (expected pbfred.PyPBF, got <type>)" is raised.
pbf::PBF& FunctionArg(nb::handle object, const char* param = "f");

// A new, empty PyPBF and its function.
std::pair<nb::object, pbf::PBF*> NewPyPBF();

}  // namespace pbfred::energy
