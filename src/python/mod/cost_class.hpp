// The Python class of a built-in cost model, generated from its descriptor:
// a constructor from the descriptor's parameters, fit, error, sum_of_costs,
// the fitted sizes, min_size, is_fitted, the descriptor's own properties and
// the representation.
#pragma once

#include <Python.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>

#include "core/interruption.hpp"
#include "cost/fit_from_view.hpp"
#include "cost/fitted_cost.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/estimator_parameters.hpp"
#include "python/mod/parameter_docs.hpp"
#include "python/mod/pickling.hpp"
#include "python/mod/search_dispatch.hpp"

namespace tarnwell::python {

template <class Model>
struct CostObjectState {
  Model model;
  std::shared_ptr<const typename Model::Fitted> fitted;

  bool is_fitted() const noexcept { return fitted != nullptr; }
};

// The binding parameter a descriptor's ModelParameter stands for.
template <class Model>
RealParameter binding_parameter(const ModelParameter<Model, double>& parameter) {
  static const Model defaults{};
  return RealParameter{parameter.name.data(), defaults.*parameter.member, parameter.default_text.data()};
}
template <class Model>
UnsignedParameter binding_parameter(const ModelParameter<Model, std::uint64_t>& parameter) {
  static const Model defaults{};
  return UnsignedParameter{parameter.name.data(), defaults.*parameter.member};
}

template <class Model>
MatrixParameter binding_parameter(const ModelParameter<Model, std::optional<DenseMatrix>>& parameter) {
  return MatrixParameter{parameter.name.data()};
}

// "CostL1()" unfitted, "CostL1(n_samples=.., n_features=..)" fitted.
template <class Fitted>
std::string fitted_size_repr(std::string_view class_name, const Fitted* fitted) {
  std::string text(class_name);
  if (fitted == nullptr) return text + "()";
  text += "(n_samples=" + std::to_string(fitted->n_samples());
  text += ", n_features=" + std::to_string(fitted->n_features()) + ")";
  return text;
}

template <class Model>
struct CostClass {
  using State = CostObjectState<Model>;
  using Fitted = typename Model::Fitted;

  struct Names {
    std::string name{Model::class_name};
    std::string qualified = "tarnwell._tarnwell." + name;
    std::string constructing = "constructing " + name;
    std::string fitting = "fitting " + name;
    std::string computing_segment = "computing a " + name + " segment";
    std::string summing = "summing " + name + " segments";
    std::string reading_n_samples = "reading " + name + ".n_samples";
    std::string reading_n_features = "reading " + name + ".n_features";
    std::string reading_min_size = "reading " + name + ".min_size";
    std::string formatting = "formatting " + name;
  };
  static const Names& names() {
    static const Names value;
    return value;
  }

  static const auto& constructor_table() {
    static const auto table = std::apply(
        [](const auto&... parameter) { return std::tuple{binding_parameter<Model>(parameter)...}; },
        Model::parameters);
    return table;
  }

  static Result<const Fitted*> require_fitted(const State& state) {
    if (!state.fitted) return errors::fail(errors::not_fitted(names().name));
    return state.fitted.get();
  }

  static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const ArgumentLayout layout = argument_layout(names().name.c_str(), constructor_table());
    return run_constructor<State>(type, names().constructing.c_str(), layout, constructor_table(), args, kwargs,
                                  [](const auto&... value) { return build_state(value...); });
  }

  // The descriptor's parameters stored, then its own checks.
  static Result<State> build_state(const auto&... value) {
    State state;
    [&]<std::size_t... Index>(std::index_sequence<Index...>) {
      ((state.model.*(std::get<Index>(Model::parameters).member) = value), ...);
    }(std::index_sequence_for<decltype(value)...>{});
    if constexpr (requires { state.model.check(); }) {
      TARNWELL_CHECK(state.model.check());
    }
    return state;
  }

  static Result<Fitted> fit_model(const Model& model, const ArrayArgument& signal) {
    TARNWELL_TRY(view, signal.signal_view());
    if constexpr (requires { Model::long_fit; }) {
      TARNWELL_TRY(owned, Signal::copy_from(view));
      return fit_without_interpreter_lock([&] { return model.fit(owned); });
    }
    // The interpreter lock stays held (the fit reads the caller's array);
    // a long fit still ends on Ctrl-C.
    InterruptionScope interruptible(&pending_signal_raised);
    return fit_from_view(model, view);
  }

  static constexpr auto fit_table = ParameterTable<ArrayParameter>{ArrayParameter{"signal"}};
  // The previous statistics are replaced only once the new ones exist.
  static PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("fit", fit_table);
    return run_method<State, Access::exclusive>(self, names().fitting.c_str(), layout, fit_table, args, nargs, kwnames,
                                                [&](State& state, const ArrayArgument& signal) -> Result<PyRef> {
                                                  TARNWELL_TRY(fitted, fit_model(state.model, signal));
                                                  state.fitted = std::make_shared<const Fitted>(std::move(fitted));
                                                  return PyRef::borrow(self);
                                                });
  }

  static constexpr auto error_table =
      ParameterTable<UnsignedParameter, UnsignedParameter>{UnsignedParameter{"start"}, UnsignedParameter{"end"}};
  static PyObject* error(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("error", error_table);
    return run_method<State, Access::shared>(
        self, names().computing_segment.c_str(), layout, error_table, args, nargs, kwnames,
        [](const State& state, std::uint64_t start, std::uint64_t end) -> Result<PyRef> {
          TARNWELL_TRY(fitted, require_fitted(state));
          TARNWELL_TRY(value, fitted->segment_cost(start, end));
          return to_python(value);
        });
  }

  static constexpr auto sum_table = ParameterTable<BreakpointsParameter>{BreakpointsParameter{"breakpoints"}};
  static PyObject* sum_of_costs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("sum_of_costs", sum_table);
    return run_method<State, Access::shared>(
        self, names().summing.c_str(), layout, sum_table, args, nargs, kwnames,
        [](const State& state, const BreakpointsArgument& breakpoints) -> Result<PyRef> {
          TARNWELL_TRY(fitted, require_fitted(state));
          TARNWELL_TRY(total, tarnwell::sum_of_costs(*fitted, breakpoints.values()));
          return to_python(total);
        });
  }

  // Guarded readers: the fitted sizes fail on an unfitted object.
  template <auto Read>
  static PyObject* checked_getter(PyObject* self, const std::string& operation) {
    return call_guarded(operation.c_str(), [&]() -> Result<PyRef> {
      return with_shared<State>(self, [](const State& state) -> Result<PyRef> {
        TARNWELL_TRY(value, Read(state));
        return to_python(value);
      });
    });
  }
  static Result<std::uint64_t> read_n_samples(const State& state) {
    TARNWELL_TRY(fitted, require_fitted(state));
    return fitted->n_samples();
  }
  static Result<std::uint64_t> read_n_features(const State& state) {
    TARNWELL_TRY(fitted, require_fitted(state));
    return fitted->n_features();
  }
  static Result<std::uint64_t> read_min_size(const State& state) { return state.model.min_segment_length(); }
  static PyObject* n_samples(PyObject* self, void*) {
    return checked_getter<&read_n_samples>(self, names().reading_n_samples);
  }
  static PyObject* n_features(PyObject* self, void*) {
    return checked_getter<&read_n_features>(self, names().reading_n_features);
  }
  static PyObject* min_size(PyObject* self, void*) {
    return checked_getter<&read_min_size>(self, names().reading_min_size);
  }
  static PyObject* is_fitted(PyObject* self, void*) {
    return PyBool_FromLong(instance_of<State>(self)->state.fitted != nullptr ? 1 : 0);
  }

  // The descriptor's own properties read its stored parameters and cannot fail.
  template <std::size_t Index>
  static PyObject* model_property(PyObject* self, void*) {
    const Model& model = instance_of<State>(self)->state.model;
    try {
      return to_python(std::invoke(std::get<Index>(Model::properties).getter, model)).release();
    } catch (const PythonErrorAlreadySet&) {
      return nullptr;
    } catch (...) {
      return PyErr_NoMemory();
    }
  }

  static PyObject* repr(PyObject* self) {
    return call_guarded(names().formatting.c_str(), [&]() -> Result<PyRef> {
      return with_shared<State>(self, [](const State& state) -> Result<PyRef> {
        if constexpr (requires { state.model.repr(state.fitted.get()); }) {
          return to_python(state.model.repr(state.fitted.get()));
        } else {
          return to_python(fitted_size_repr(Model::class_name, state.fitted.get()));
        }
      });
    });
  }

  // Pickled as the descriptor's parameters and the fitted cost's own saved form.
  struct PicklePolicy {
    static const char* class_name() { return names().name.c_str(); }
    static PyRef constructor_arguments(const State& state) {
      return arguments_tuple(std::apply(
          [&](const auto&... parameter) { return std::tuple{state.model.*(parameter.member)...}; },
          Model::parameters));
    }
    static void save(const State& state, StateWriter& out) { state.fitted->save(out); }
    static Result<std::shared_ptr<const Fitted>> restore(const State& state, StateReader& in) {
      TARNWELL_TRY(fitted, restore_cost<Fitted>(in, state.model));
      return std::make_shared<const Fitted>(std::move(fitted));
    }
  };

  struct ParameterPolicy {
    static const char* class_name() { return names().name.c_str(); }
    static const auto& table() { return constructor_table(); }
    static Result<State> construct(const auto&... value) { return build_state(value...); }
    static PyRef constructor_arguments(const State& state) { return PicklePolicy::constructor_arguments(state); }
  };

  // The docstrings every cost class shares; the class's own text is the
  // descriptor's description and its properties' docs.
  static constexpr const char* fit_description =
      "Fit the cost's statistics to a signal and return the object itself. The previous statistics are replaced "
      "only when the fit succeeds.\n\n" TARNWELL_DOC_SIGNAL;
  static constexpr const char* error_description =
      "The cost of the segment [start, end) of the fitted signal, rows start to end - 1.\n\n"
      "start, end: sample indices with start < end <= n_samples and end - start >= min_size.";
  static constexpr const char* sum_description =
      "The total cost of a segmentation of the fitted signal (compensated summation).\n\n"
      "breakpoints: increasing sample indices, each the end of a segment, the last equal to n_samples; every "
      "segment at least min_size long.";

  static PyTypeObject* type() {
    static TypeParts parts;
    if (parts.type != nullptr) return parts.type;
    if (parts.methods.empty()) {
      static const std::string fit_doc = docstring(signature_text("fit", fit_table, true), fit_description);
      static const std::string error_doc = docstring(signature_text("error", error_table, true), error_description);
      static const std::string sum_doc = docstring(signature_text("sum_of_costs", sum_table, true), sum_description);
      parts.qualified_name = names().qualified;
      parts.doc = docstring(signature_text(names().name, constructor_table(), false), Model::description);
      parts.methods = {fastcall_definition("fit", &fit, fit_doc.c_str()),
                       fastcall_definition("error", &error, error_doc.c_str()),
                       fastcall_definition("sum_of_costs", &sum_of_costs, sum_doc.c_str())};
      Pickling<State, PicklePolicy>::add_methods(parts.methods);
      EstimatorParameters<State, ParameterPolicy>::add_methods(parts.methods);
      [&]<std::size_t... Index>(std::index_sequence<Index...>) {
        (parts.properties.push_back({std::get<Index>(Model::properties).name.data(), &model_property<Index>,
                                     nullptr, std::get<Index>(Model::properties).doc.data(), nullptr}),
         ...);
      }(std::make_index_sequence<std::tuple_size_v<std::remove_cvref_t<decltype(Model::properties)>>>{});
      parts.properties.push_back(
          {"n_samples", &n_samples, nullptr, "The number of samples of the fitted signal. Fails before fitting.",
           nullptr});
      parts.properties.push_back(
          {"n_features", &n_features, nullptr, "The number of features of the fitted signal. Fails before fitting.",
           nullptr});
      parts.properties.push_back(
          {"min_size", &min_size, nullptr,
           "The shortest segment this cost gives a value to, in samples; it depends on the model's parameters only. "
           "A search using the model raises its own min_size to it.",
           nullptr});
      parts.properties.push_back(
          {"is_fitted", &is_fitted, nullptr, "Whether a fit has succeeded, so that error and sum_of_costs can run.",
           nullptr});
    }
    return create_type<State>(parts, &construct, &repr);
  }
};

}  // namespace tarnwell::python
