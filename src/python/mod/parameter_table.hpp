// Declarative parameter tables: each callable lists its parameters once, as
// typed entries (name, how the default prints, the default). The same table
// binds positional and keyword arguments, converts each one (errors name the
// argument), and writes the text signature of the docstring, so a parameter's
// name and default are written in exactly one place.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "python/mod/arguments.hpp"
#include "python/mod/breakpoints_argument.hpp"
#include "python/mod/signal_argument.hpp"

namespace tarnwell::python {

// Each parameter kind knows how to convert a Python value, its default, and
// how the default reads in a text signature (nothing for a required one).

// An unsigned 64-bit integer through the index protocol; negative or too
// large values are refused with OverflowError.
struct UnsignedParameter {
  using Value = std::uint64_t;
  const char* name;
  std::optional<std::uint64_t> default_value = std::nullopt;  // none: required
  std::optional<Value> convert(PyObject* value) const { return to_unsigned(value, name); }
  Value fallback() const { return default_value.value_or(0); }
  std::optional<std::string> default_text() const {
    if (!default_value) return std::nullopt;
    return std::to_string(*default_value);
  }
};

// Anything convertible to a Python float. The signature shows the default as
// `shown`, since a float's shortest form is not always how it is documented.
struct RealParameter {
  using Value = double;
  const char* name;
  std::optional<double> default_value = std::nullopt;
  const char* shown = nullptr;
  std::optional<Value> convert(PyObject* value) const { return to_float(value, name); }
  Value fallback() const { return default_value.value_or(0.0); }
  std::optional<std::string> default_text() const {
    if (!default_value) return std::nullopt;
    return std::string(shown);
  }
};

// A str, shown quoted.
struct TextParameter {
  using Value = std::string;
  const char* name;
  const char* default_value = nullptr;
  std::optional<Value> convert(PyObject* value) const { return to_text(value, name); }
  Value fallback() const { return default_value == nullptr ? std::string() : std::string(default_value); }
  std::optional<std::string> default_text() const {
    if (default_value == nullptr) return std::nullopt;
    return std::string("\"") + default_value + "\"";
  }
};

// Parameters defaulting to None: None and omission are the same, "not given".
#define TARNWELL_NONE_DEFAULT                     \
  static constexpr bool none_means_default = true; \
  std::optional<std::string> default_text() const { return std::string("None"); }

struct OptionalUnsignedParameter {
  TARNWELL_NONE_DEFAULT
  using Value = std::optional<std::uint64_t>;
  const char* name;
  std::optional<Value> convert(PyObject* value) const {
    std::optional<std::uint64_t> converted = to_unsigned(value, name);
    if (!converted) return std::nullopt;
    return Value(*converted);
  }
  Value fallback() const { return std::nullopt; }
};

struct OptionalRealParameter {
  TARNWELL_NONE_DEFAULT
  using Value = std::optional<double>;
  const char* name;
  std::optional<Value> convert(PyObject* value) const {
    std::optional<double> converted = to_float(value, name);
    if (!converted) return std::nullopt;
    return Value(*converted);
  }
  Value fallback() const { return std::nullopt; }
};

// Any Python object, borrowed for the call; nullptr when None or omitted.
struct ObjectParameter {
  TARNWELL_NONE_DEFAULT
  using Value = PyObject*;
  const char* name;
  std::optional<Value> convert(PyObject* value) const { return value; }
  Value fallback() const { return nullptr; }
};

// A float64 NumPy array (a signal, or a matrix parameter), read in place; required.
struct ArrayParameter {
  using Value = ArrayArgument;
  const char* name;
  std::optional<Value> convert(PyObject* value) const { return ArrayArgument::from_python(value, name); }
  Value fallback() const { return ArrayArgument(); }
  std::optional<std::string> default_text() const { return std::nullopt; }
};

struct OptionalArrayParameter {
  TARNWELL_NONE_DEFAULT
  using Value = std::optional<ArrayArgument>;
  const char* name;
  std::optional<Value> convert(PyObject* value) const {
    std::optional<ArrayArgument> converted = ArrayArgument::from_python(value, name);
    if (!converted) return std::nullopt;
    return Value(std::move(*converted));
  }
  Value fallback() const { return std::nullopt; }
};

// A two-dimensional float64 NumPy array, copied row-major with its shape; required.
struct MatrixParameter {
  using Value = DenseMatrix;
  const char* name;
  std::optional<Value> convert(PyObject* value) const {
    std::optional<ArrayArgument> array = ArrayArgument::from_python(value, name);
    if (!array) return std::nullopt;
    return array->matrix_copy(name);
  }
  Value fallback() const { return DenseMatrix(); }
  std::optional<std::string> default_text() const { return std::nullopt; }
};

// A sequence of non-negative integers (breakpoint lists); required.
struct BreakpointsParameter {
  using Value = BreakpointsArgument;
  const char* name;
  std::optional<Value> convert(PyObject* value) const { return BreakpointsArgument::from_python(value, name); }
  Value fallback() const { return BreakpointsArgument(); }
  std::optional<std::string> default_text() const { return std::nullopt; }
};

template <class... Parameters>
using ParameterTable = std::tuple<Parameters...>;

template <class Table>
struct TableValues;
template <class... Parameters>
struct TableValues<std::tuple<Parameters...>> {
  using type = std::tuple<typename Parameters::Value...>;
};

// "name(a, b=1)" or, for methods, "name($self, a, b=1)".
template <class... Parameters>
std::string signature_text(std::string_view name, const std::tuple<Parameters...>& table, bool method) {
  std::string text(name);
  text += '(';
  bool first = true;
  auto append = [&](std::string_view piece) {
    if (!first) text += ", ";
    text += piece;
    first = false;
  };
  if (method) append("$self");
  std::apply(
      [&](const auto&... parameter) {
        (([&] {
           std::string piece = parameter.name;
           if (const std::optional<std::string> shown = parameter.default_text()) piece += "=" + *shown;
           append(piece);
         }()),
         ...);
      },
      table);
  return text + ')';
}

// A docstring: the text signature, the "--" line, then the description.
inline std::string docstring(const std::string& signature, std::string_view description) {
  std::string text = signature + "\n--\n\n";
  text += description;
  return text;
}

// The binding layout of a table: names in order, leading parameters without a
// default required.
template <class... Parameters>
ArgumentLayout argument_layout(const char* function_name, const std::tuple<Parameters...>& table) {
  std::vector<const char*> names;
  std::size_t required = 0;
  bool optional_seen = false;
  std::apply(
      [&](const auto&... parameter) {
        (([&] {
           names.push_back(parameter.name);
           if (!parameter.default_text().has_value() && !optional_seen) {
             ++required;
           } else {
             optional_seen = true;
           }
         }()),
         ...);
      },
      table);
  return ArgumentLayout(function_name, std::move(names), required);
}

// Binds and converts in declaration order, so the first bad argument is the
// one reported. Omitted parameters (and None for those defaulting to None)
// take their defaults. Throws PythonErrorAlreadySet on failure.
template <class... Parameters>
std::tuple<typename Parameters::Value...> convert_arguments(const std::tuple<Parameters...>& table,
                                                            std::span<PyObject* const> slots) {
  return [&]<std::size_t... Index>(std::index_sequence<Index...>) {
    [[maybe_unused]] auto convert_one = [&](const auto& parameter, PyObject* slot) {
      using Value = typename std::remove_cvref_t<decltype(parameter)>::Value;
      using Parameter = std::remove_cvref_t<decltype(parameter)>;
      constexpr bool none_means_default = requires { Parameter::none_means_default; };
      if (slot == nullptr || (none_means_default && slot == Py_None)) return Value(parameter.fallback());
      std::optional<Value> converted = parameter.convert(slot);
      if (!converted) throw PythonErrorAlreadySet{};
      return std::move(*converted);
    };
    // Braced initialisation evaluates the conversions left to right.
    return std::tuple<typename Parameters::Value...>{convert_one(std::get<Index>(table), slots[Index])...};
  }(std::index_sequence_for<Parameters...>{});
}

}  // namespace tarnwell::python
