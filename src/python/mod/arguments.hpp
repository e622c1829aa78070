// Argument binding: one static layout per callable maps positional values and
// keywords to parameter slots; typed converters then turn each slot into a
// C++ value, raising TypeError (or OverflowError) that names the argument.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnwell::python {

class ArgumentLayout {
 public:
  // `required` leading parameters must be supplied; the rest are optional.
  ArgumentLayout(const char* function_name, std::initializer_list<const char*> names, std::size_t required)
      : ArgumentLayout(function_name, std::vector<const char*>(names), required) {}
  ArgumentLayout(const char* function_name, std::vector<const char*> names, std::size_t required);

  std::size_t size() const noexcept { return names_.size(); }

  // Both return false with a TypeError set. `slots` receives borrowed
  // references, NULL for an omitted parameter.
  bool bind_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, std::span<PyObject*> slots) const;
  bool bind_tuple(PyObject* args, PyObject* kwargs, std::span<PyObject*> slots) const;

 private:
  bool place_keyword(PyObject* keyword, PyObject* value, std::span<PyObject*> slots) const;
  bool check_required(std::span<PyObject*> slots) const;

  const char* function_name_;
  std::vector<const char*> names_;
  std::vector<PyObject*> interned_names_;
  std::size_t required_;
};

// The bound slots of one call.
template <std::size_t N>
struct BoundArguments {
  std::array<PyObject*, N> slots{};
  // A slot holding None counts as omitted, as for parameters defaulting to None.
  PyObject* given(std::size_t index) const { return slots[index] == Py_None ? nullptr : slots[index]; }
  PyObject* operator[](std::size_t index) const { return slots[index]; }
};

// Converters: std::nullopt means a Python exception is set.
std::optional<std::uint64_t> to_unsigned(PyObject* value, const char* name);
std::optional<double> to_float(PyObject* value, const char* name);
std::optional<std::string> to_text(PyObject* value, const char* name);

// Result conversions that cannot fail short of memory exhaustion.
PyObject* breakpoints_to_list(std::span<const std::uint64_t> breakpoints);
PyObject* text_to_python(const std::string& text);

}  // namespace tarnwell::python
