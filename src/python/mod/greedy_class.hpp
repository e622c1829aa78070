// The Python surface Binseg, BottomUp and Window share: construction of the
// model and search parameters, fit, predict with one of three stopping rules,
// fit_predict and the read-only properties. A class supplies a Traits type
// with its name, its stored state and how its engine runs; the rest is here.
#pragma once

#include <Python.h>

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>

#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/search_class.hpp"
#include "python/mod/signal_argument.hpp"
#include "search/greedy/stopping_rule.hpp"

namespace tarnwell::python {

// Operation names of one class, built once from its name.
struct GreedyOperationNames {
  explicit GreedyOperationNames(const std::string& name)
      : constructing("constructing " + name),
        fitting("fitting " + name),
        predicting("predicting with " + name),
        fitting_and_predicting("fitting and predicting with " + name) {}
  std::string constructing, fitting, predicting, fitting_and_predicting;
};

struct GreedyConstructorArguments {
  std::string model = "l2";
  std::uint64_t min_size = 2;
  std::uint64_t jump = 5;
};

// Omitted slots (NULL) keep the defaults. False with a Python error set.
bool convert_constructor_arguments(PyObject* model, PyObject* min_size, PyObject* jump,
                                   GreedyConstructorArguments& out);

// The model, then min_size, then jump; min_size is raised to the model's minimum.
Result<ModelSearchState> construct_greedy_state(const GreedyConstructorArguments& arguments);

// The three optional stopping values of predict; None counts as not given.
struct StoppingArguments {
  std::optional<std::uint64_t> n_bkps;
  std::optional<double> pen;
  std::optional<double> epsilon;
};

// False with a Python error set.
bool convert_stopping_arguments(PyObject* n_bkps, PyObject* pen, PyObject* epsilon, StoppingArguments& out);

template <class Traits>
struct GreedyClass {
  using State = typename Traits::State;

  static const GreedyOperationNames& names() {
    static const GreedyOperationNames operation_names(Traits::name);
    return operation_names;
  }

  // The constructor of the classes whose only parameters are model, min_size and jump.
  static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs)
    requires std::same_as<State, ModelSearchState>
  {
    return at_entry([&]() -> PyObject* {
      static const ArgumentSpec spec(Traits::name, {"model", "min_size", "jump"}, 0);
      BoundArguments<3> bound;
      if (!spec.bind_tuple(args, kwargs, bound.slots)) return nullptr;
      GreedyConstructorArguments arguments;
      if (!convert_constructor_arguments(bound[0], bound[1], bound[2], arguments)) return nullptr;
      return call_guarded(names().constructing.c_str(), [&]() -> Result<PyRef> {
        TARNWELL_TRY(state, construct_greedy_state(arguments));
        return new_instance(type, std::move(state));
      });
    });
  }

  // Fitted first, then exactly one rule, then the engine's own checks.
  static Result<PyRef> predict_state(const State& state, const StoppingArguments& arguments) {
    if (!state.fitted) return errors::fail(errors::not_fitted(Traits::name));
    TARNWELL_TRY(rule, choose_stopping_rule(arguments.n_bkps, arguments.pen, arguments.epsilon));
    return predict_breakpoints(state.fitted, Traits::name,
                               [&](const auto& cost) { return Traits::run(cost, state, rule); });
  }

  // The previous fit is replaced only once the new one exists.
  static Status fit_state(State& state, const ArrayArgument& signal) {
    TARNWELL_TRY(fitted, fit_cost_model(state.model, signal));
    state.fitted = std::move(fitted);
    return {};
  }

  static PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return fit_method<State>(self, args, nargs, kwnames, names().fitting.c_str(), fit_state);
  }

  static PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return at_entry([&]() -> PyObject* {
      static const ArgumentSpec spec("predict", {"n_bkps", "pen", "epsilon"}, 0);
      BoundArguments<3> bound;
      if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
      StoppingArguments stopping;
      if (!convert_stopping_arguments(bound.given(0), bound.given(1), bound.given(2), stopping)) return nullptr;
      return with_shared<State>(self, names().predicting.c_str(),
                                [&](const State& state) { return predict_state(state, stopping); });
    });
  }

  // A failed fit keeps the previous state; a failed prediction keeps the new fit.
  static PyObject* fit_predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return at_entry([&]() -> PyObject* {
      static const ArgumentSpec spec("fit_predict", {"signal", "n_bkps", "pen", "epsilon"}, 1);
      BoundArguments<4> bound;
      if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
      std::optional<ArrayArgument> signal = ArrayArgument::from_python(bound[0], "signal");
      if (!signal) return nullptr;
      StoppingArguments stopping;
      if (!convert_stopping_arguments(bound.given(1), bound.given(2), bound.given(3), stopping)) return nullptr;
      return with_exclusive<State>(self, names().fitting_and_predicting.c_str(), [&](State& state) -> Result<PyRef> {
        TARNWELL_CHECK(fit_state(state, *signal));
        return predict_state(state, stopping);
      });
    });
  }

  // Properties read stored values and cannot fail.
  static PyObject* model(PyObject* self, void*) {
    const std::string& name = instance_of<State>(self)->state.model_name;
    return PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size()));
  }
  static PyObject* is_fitted(PyObject* self, void*) { return new_bool(instance_of<State>(self)->state.is_fitted()); }

  static inline PyMethodDef methods[] = {
      {"fit", fastcall_method<&fit>(), METH_FASTCALL | METH_KEYWORDS,
       "fit($self, signal)\n--\n\n"},
      {"predict", fastcall_method<&predict>(), METH_FASTCALL | METH_KEYWORDS,
       "predict($self, n_bkps=None, pen=None, epsilon=None)\n--\n\n"},
      {"fit_predict", fastcall_method<&fit_predict>(),
       METH_FASTCALL | METH_KEYWORDS, "fit_predict($self, signal, n_bkps=None, pen=None, epsilon=None)\n--\n\n"},
      {nullptr, nullptr, 0, nullptr},
  };

  static inline PyGetSetDef common_properties[] = {
      {"model", &model, nullptr, nullptr, nullptr},
      {"min_size", &get_search_min_size<State>, nullptr, nullptr, nullptr},
      {"jump", &get_search_jump<State>, nullptr, nullptr, nullptr},
      {"is_fitted", &is_fitted, nullptr, nullptr, nullptr},
      {nullptr, nullptr, nullptr, nullptr, nullptr},
  };
};

}  // namespace tarnwell::python
