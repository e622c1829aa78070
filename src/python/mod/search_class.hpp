// The one shape of every search class: a constructor from a parameter table,
// fit(signal, ...), predict(...), fit_predict(signal, ..., ...), read-only
// properties and an optional repr. A class supplies a Traits type:
//
//   struct Traits {
//     using State = ...;
//     static constexpr const char* name = "Pelt";
//     static constexpr const char* description = "...";   // docstring text after the signature
//     static constexpr const char* predict_description = "...";  // predict's docstring text
//     static constexpr const char* fit_description = "...";      // optional, else the common one
//     static constexpr auto constructor = ParameterTable<...>{...};
//     static Result<State> construct(const Values&...);    // checks in the class's order
//     static constexpr auto fit_parameters = ParameterTable<...>{...};  // after `signal`
//     static Status fit(State&, const ArrayArgument& signal, const Values&...);
//     static constexpr auto predict_parameters = ParameterTable<...>{...};
//     static Result<PyRef> predict(const State&, const Values&...);
//     static constexpr auto properties = std::tuple{StoredProperty<State, T>{name, get, doc}, ...};  // or CheckedProperty
//     static std::string repr(const State&);                // optional, else the constructor's parameters
//     static void add_methods(TypeParts&);                  // optional extra methods
//     // optional: sum_of_costs(breakpoints), the total cost of a segmentation
//     // of the fitted signal in the units predict minimises
//     static Result<PyRef> total_cost(const State&, const BreakpointsArgument&);
//     static constexpr const char* total_cost_description = "...";
//     // pickling (see pickling.hpp): the constructor's values as stored, in
//     // its order, and the saved form of the fitted state
//     static auto constructor_arguments(const State&);      // a std::tuple
//     static void save(const State&, StateWriter&);
//     static Result<decltype(State::fitted)> restore(const State&, StateReader&);
//   };
//
// fit_predict takes the signal, the required fit parameters, every predict
// parameter, then the optional fit parameters, and leaves the object fitted
// when the prediction fails.
#pragma once

#include <Python.h>

#include <string>
#include <tuple>

#include "python/mod/class_builder.hpp"
#include "python/mod/estimator_parameters.hpp"
#include "python/mod/parameter_docs.hpp"
#include "python/mod/pickling.hpp"

namespace tarnwell::python {

template <class Traits>
struct SearchClass {
  using State = typename Traits::State;

  struct Names {
    std::string qualified = std::string("tarnwell._tarnwell.") + Traits::name;
    std::string constructing = std::string("constructing ") + Traits::name;
    std::string fitting = std::string("fitting ") + Traits::name;
    std::string predicting = std::string("predicting with ") + Traits::name;
    std::string fitting_and_predicting = std::string("fitting and predicting with ") + Traits::name;
    std::string formatting = std::string("formatting ") + Traits::name;
    std::string summing = std::string("summing ") + Traits::name + " segment costs";
  };
  static const Names& names() {
    static const Names value;
    return value;
  }

  static constexpr auto signal_parameter = ParameterTable<ArrayParameter>{{"signal"}};
  static constexpr auto fit_table = std::tuple_cat(signal_parameter, Traits::fit_parameters);
  // Fit parameters all have defaults, so they follow the predict parameters.
  static constexpr auto fit_predict_table =
      std::tuple_cat(signal_parameter, Traits::predict_parameters, Traits::fit_parameters);
  static constexpr std::size_t predict_count = std::tuple_size_v<decltype(Traits::predict_parameters)>;

  static PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const ArgumentLayout layout = argument_layout(Traits::name, Traits::constructor);
    return run_constructor<State>(type, names().constructing.c_str(), layout, Traits::constructor, args, kwargs,
                                  [](const auto&... value) { return Traits::construct(value...); });
  }

  static PyObject* fit(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("fit", fit_table);
    return run_method<State, Access::exclusive>(
        self, names().fitting.c_str(), layout, fit_table, args, nargs, kwnames,
        [&](State& state, const ArrayArgument& signal, const auto&... extra) -> Result<PyRef> {
          TARNWELL_CHECK(Traits::fit(state, signal, extra...));
          return PyRef::borrow(self);
        });
  }

  static PyObject* predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("predict", Traits::predict_parameters);
    return run_method<State, Access::shared>(
        self, names().predicting.c_str(), layout, Traits::predict_parameters, args, nargs, kwnames,
        [](const State& state, const auto&... value) { return Traits::predict(state, value...); });
  }

  static PyObject* fit_predict(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("fit_predict", fit_predict_table);
    return run_method<State, Access::exclusive>(
        self, names().fitting_and_predicting.c_str(), layout, fit_predict_table, args, nargs, kwnames,
        [](State& state, const ArrayArgument& signal, const auto&... value) -> Result<PyRef> {
          auto values = std::forward_as_tuple(value...);
          TARNWELL_CHECK(call_fit(state, signal, values));
          return call_predict(std::as_const(state), values);
        });
  }

  static constexpr auto sum_table = ParameterTable<BreakpointsParameter>{BreakpointsParameter{"breakpoints"}};
  static PyObject* sum_of_costs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const ArgumentLayout layout = argument_layout("sum_of_costs", sum_table);
    return run_method<State, Access::shared>(self, names().summing.c_str(), layout, sum_table, args, nargs, kwnames,
                                             [](const State& state, const BreakpointsArgument& breakpoints) {
                                               return Traits::total_cost(state, breakpoints);
                                             });
  }

  template <class Values>
  static Status call_fit(State& state, const ArrayArgument& signal, const Values& values) {
    return [&]<std::size_t... Index>(std::index_sequence<Index...>) {
      return Traits::fit(state, signal, std::get<predict_count + Index>(values)...);
    }(std::make_index_sequence<std::tuple_size_v<Values> - predict_count>{});
  }

  template <class Values>
  static Result<PyRef> call_predict(const State& state, const Values& values) {
    return [&]<std::size_t... Index>(std::index_sequence<Index...>) {
      return Traits::predict(state, std::get<Index>(values)...);
    }(std::make_index_sequence<predict_count>{});
  }

  // The class's own representation, or its constructor's parameters.
  static PyObject* repr(PyObject* self) {
    return call_guarded(names().formatting.c_str(), [&]() -> Result<PyRef> {
      return with_shared<State>(self, [](const State& state) {
        if constexpr (requires { Traits::repr(state); }) {
          return to_python(Traits::repr(state));
        } else {
          return to_python(
              parameters_repr(Traits::name, Traits::constructor, ParameterPolicy::constructor_arguments(state)));
        }
      });
    });
  }

  // Stored properties read without the guard; checked ones (fitted-only
  // sizes) run guarded as "reading {class}.{property}".
  template <std::size_t Index>
  static PyObject* property(PyObject* self, void*) {
    static constexpr auto entry = std::get<Index>(Traits::properties);
    if constexpr (is_checked_property<std::remove_cv_t<decltype(entry)>>) {
      static const std::string operation = std::string("reading ") + Traits::name + "." + entry.name;
      return call_guarded(operation.c_str(), [&]() -> Result<PyRef> {
        return with_shared<State>(self, [](const State& state) -> Result<PyRef> {
          TARNWELL_TRY(value, entry.get(state));
          return to_python(value);
        });
      });
    } else {
      return stored_property_getter(self, entry.get);
    }
  }

  static PyObject* stored_property_getter(PyObject* self, auto get) {
    try {
      return to_python(get(instance_of<State>(self)->state)).release();
    } catch (const PythonErrorAlreadySet&) {
      return nullptr;
    } catch (...) {
      return PyErr_NoMemory();
    }
  }

  struct PicklePolicy {
    static const char* class_name() { return Traits::name; }
    static PyRef constructor_arguments(const State& state) {
      return arguments_tuple(Traits::constructor_arguments(state));
    }
    static void save(const State& state, StateWriter& out) { Traits::save(state, out); }
    static auto restore(const State& state, StateReader& in) { return Traits::restore(state, in); }
  };

  struct ParameterPolicy {
    static const char* class_name() { return Traits::name; }
    static const auto& table() { return Traits::constructor; }
    static Result<State> construct(const auto&... value) { return Traits::construct(value...); }
    static PyRef constructor_arguments(const State& state) {
      return arguments_tuple(Traits::constructor_arguments(state));
    }
  };

  static constexpr const char* fit_description() {
    if constexpr (requires { Traits::fit_description; }) {
      return Traits::fit_description;
    } else {
      return "Fit the search to a signal and return the object itself; predict then runs on it.\n\n" TARNWELL_DOC_SIGNAL;
    }
  }
  static constexpr const char* fit_predict_description =
      "fit(signal, ...) followed by predict(...), in one call: returns the breakpoints. The parameters are those "
      "of fit and predict; the object stays fitted when the prediction fails.";

  static PyTypeObject* type() {
    static TypeParts parts;
    if (parts.type != nullptr) return parts.type;
    if (parts.methods.empty()) {
      static const std::string fit_doc = docstring(signature_text("fit", fit_table, true), fit_description());
      static const std::string predict_doc =
          docstring(signature_text("predict", Traits::predict_parameters, true), Traits::predict_description);
      static const std::string fit_predict_doc =
          docstring(signature_text("fit_predict", fit_predict_table, true), fit_predict_description);
      parts.qualified_name = names().qualified;
      parts.doc = docstring(signature_text(Traits::name, Traits::constructor, false), Traits::description);
      parts.methods = {fastcall_definition("fit", &fit, fit_doc.c_str()),
                       fastcall_definition("predict", &predict, predict_doc.c_str()),
                       fastcall_definition("fit_predict", &fit_predict, fit_predict_doc.c_str())};
      if constexpr (requires { Traits::total_cost_description; }) {
        static const std::string sum_doc = docstring(
            signature_text("sum_of_costs", sum_table, true),
            std::string(Traits::total_cost_description) +
                "\n\nbreakpoints: increasing segment ends, the last equal to n_samples.");
        parts.methods.push_back(fastcall_definition("sum_of_costs", &sum_of_costs, sum_doc.c_str()));
      }
      if constexpr (requires(TypeParts& extra) { Traits::add_methods(extra); }) Traits::add_methods(parts);
      Pickling<State, PicklePolicy>::add_methods(parts.methods);
      EstimatorParameters<State, ParameterPolicy>::add_methods(parts.methods);
      [&]<std::size_t... Index>(std::index_sequence<Index...>) {
        (parts.properties.push_back({std::get<Index>(Traits::properties).name, &property<Index>, nullptr,
                                     std::get<Index>(Traits::properties).doc, nullptr}),
         ...);
      }(std::make_index_sequence<std::tuple_size_v<decltype(Traits::properties)>>{});
    }
    return create_type<State>(parts, &construct, &repr);
  }
};

}  // namespace tarnwell::python
