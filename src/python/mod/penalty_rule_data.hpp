// A penalty rule (cost/cost_descriptor.hpp) as the dict the package's
// default penalty reads, with the parameter count of its model.
#pragma once

#include <Python.h>

#include <cstdint>

#include "cost/cost_descriptor.hpp"
#include "python/mod/py_ref.hpp"

namespace tarnwell::python {

PyRef penalty_rule_data(const PenaltyRule& rule, std::uint64_t segment_parameters);

}  // namespace tarnwell::python
