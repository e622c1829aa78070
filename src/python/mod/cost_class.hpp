// The Python surface the cost classes share: fit, error, sum_of_costs and the
// fitted-size properties. A class supplies a Traits type with its name, how it
// fits and how it prints; everything else is written once here.
#pragma once

#include <Python.h>

#include <memory>
#include <string>

#include "cost/fitted_cost.hpp"
#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/fit_method.hpp"
#include "python/mod/signal_argument.hpp"

namespace tarnwell::python {

struct CostObjectState {
  CostModel model;
  std::shared_ptr<const FittedCost> fitted;

  bool is_fitted() const noexcept { return fitted != nullptr; }
};

// Operation names of one class, built once from its name.
struct CostOperationNames {
  explicit CostOperationNames(const std::string& name)
      : fitting("fitting " + name),
        computing_segment("computing a " + name + " segment"),
        summing("summing " + name + " segments"),
        reading_n_samples("reading " + name + ".n_samples"),
        reading_n_features("reading " + name + ".n_features"),
        reading_min_size("reading " + name + ".min_size"),
        formatting("formatting " + name) {}
  std::string fitting, computing_segment, summing, reading_n_samples, reading_n_features, reading_min_size,
      formatting;
};

template <class Traits>
struct CostClass {
  static const CostOperationNames& names() {
    static const CostOperationNames operation_names(Traits::name);
    return operation_names;
  }

  static Result<const FittedCost*> require_fitted(const CostObjectState& state) {
    if (!state.fitted) return errors::fail(errors::not_fitted(Traits::name));
    return state.fitted.get();
  }

  // The previous statistics are replaced only once the new ones exist.
  static Status fit_state(CostObjectState& state, const ArrayArgument& signal) {
    TARNWELL_TRY(fitted, Traits::fit(state.model, signal));
    state.fitted = std::make_shared<const FittedCost>(std::move(fitted));
    return {};
  }

  static PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return fit_method<CostObjectState>(self, args, nargs, kwnames, names().fitting.c_str(), fit_state);
  }

  static PyObject* error(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return at_entry([&]() -> PyObject* {
      static const ArgumentSpec spec("error", {"start", "end"}, 2);
      BoundArguments<2> bound;
      if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
      const std::optional<std::uint64_t> start = to_unsigned(bound[0], "start");
      if (!start) return nullptr;
      const std::optional<std::uint64_t> end = to_unsigned(bound[1], "end");
      if (!end) return nullptr;
      return with_shared<CostObjectState>(
          self, names().computing_segment.c_str(), [&](const CostObjectState& state) -> Result<PyRef> {
            TARNWELL_TRY(fitted, require_fitted(state));
            TARNWELL_TRY(value, fitted->segment_cost(*start, *end));
            return PyRef::require(PyFloat_FromDouble(value));
          });
    });
  }

  static PyObject* sum_of_costs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return at_entry([&]() -> PyObject* {
      static const ArgumentSpec spec("sum_of_costs", {"breakpoints"}, 1);
      BoundArguments<1> bound;
      if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
      const std::optional<std::vector<std::uint64_t>> breakpoints = to_breakpoints(bound[0], "breakpoints");
      if (!breakpoints) return nullptr;
      return with_shared<CostObjectState>(
          self, names().summing.c_str(), [&](const CostObjectState& state) -> Result<PyRef> {
            TARNWELL_TRY(fitted, require_fitted(state));
            TARNWELL_TRY(total, fitted->total_cost(*breakpoints));
            return PyRef::require(PyFloat_FromDouble(total));
          });
    });
  }

  static PyObject* n_samples(PyObject* self, void*) {
    return at_entry([&]() -> PyObject* {
      return with_shared<CostObjectState>(self, names().reading_n_samples.c_str(),
                                          [&](const CostObjectState& state) -> Result<PyRef> {
                                            TARNWELL_TRY(fitted, require_fitted(state));
                                            return PyRef::require(PyLong_FromUnsignedLongLong(fitted->n_samples()));
                                          });
    });
  }

  static PyObject* n_features(PyObject* self, void*) {
    return at_entry([&]() -> PyObject* {
      return with_shared<CostObjectState>(self, names().reading_n_features.c_str(),
                                          [&](const CostObjectState& state) -> Result<PyRef> {
                                            TARNWELL_TRY(fitted, require_fitted(state));
                                            return PyRef::require(PyLong_FromUnsignedLongLong(fitted->n_features()));
                                          });
    });
  }

  static PyObject* min_size(PyObject* self, void*) {
    return at_entry([&]() -> PyObject* {
      return with_shared<CostObjectState>(
          self, names().reading_min_size.c_str(), [&](const CostObjectState& state) -> Result<PyRef> {
            return PyRef::require(PyLong_FromUnsignedLongLong(state.model.min_segment_length()));
          });
    });
  }

  static PyObject* is_fitted(PyObject* self, void*) {
    return new_bool(instance_of<CostObjectState>(self)->state.is_fitted());
  }

  static PyObject* repr(PyObject* self) {
    return at_entry([&]() -> PyObject* {
      return with_shared<CostObjectState>(self, names().formatting.c_str(),
                                          [&](const CostObjectState& state) -> Result<PyRef> {
                                            return PyRef::require(text_to_python(Traits::repr(state)));
                                          });
    });
  }

  static inline PyMethodDef methods[] = {
      {"fit", fastcall_method<&fit>(), METH_FASTCALL | METH_KEYWORDS,
       "fit($self, signal)\n--\n\n"},
      {"error", fastcall_method<&error>(), METH_FASTCALL | METH_KEYWORDS,
       "error($self, start, end)\n--\n\n"},
      {"sum_of_costs", fastcall_method<&sum_of_costs>(),
       METH_FASTCALL | METH_KEYWORDS, "sum_of_costs($self, breakpoints)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };

  static inline PyGetSetDef common_properties[] = {
      {"n_samples", &n_samples, nullptr, nullptr, nullptr},
      {"n_features", &n_features, nullptr, nullptr, nullptr},
      {"min_size", &min_size, nullptr, nullptr, nullptr},
      {"is_fitted", &is_fitted, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
};

// Default "Name()" when unfitted and "Name(n_samples=.., n_features=..)" when fitted.
std::string fitted_size_repr(const char* class_name, const CostObjectState& state);

}  // namespace tarnwell::python
