#include "python/mod/arguments.hpp"

#include <limits>

#include "python/mod/py_ref.hpp"

namespace tarnwell::python {
namespace {

// A caller's value as a message shows it: integers beyond the interpreter's
// digit limit cannot be printed at all, and very long ones say nothing more
// than their first digits.
PyRef echoed_value(PyObject* value) {
  constexpr Py_ssize_t longest = 40;
  PyRef text = PyRef::steal(PyObject_Str(value));
  if (!text) {
    PyErr_Clear();
    return PyRef::steal(PyUnicode_FromString("a value too large to print"));
  }
  if (PyUnicode_GET_LENGTH(text.get()) <= longest) return text;
  PyRef head = PyRef::steal(PyUnicode_Substring(text.get(), 0, longest));
  if (!head) return head;
  return PyRef::steal(PyUnicode_FromFormat("%U...", head.get()));
}

// Adds the argument's name to the reason of a pending UnicodeEncodeError,
// keeping its type and position fields. Any other pending error is left as is.
void name_argument_in_encode_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return;
#if PY_VERSION_HEX >= 0x030C0000
  PyObject* error = PyErr_GetRaisedException();
#else
  PyObject* type = nullptr;
  PyObject* error = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &error, &traceback);
  PyErr_NormalizeException(&type, &error, &traceback);
#endif
  if (error != nullptr) {
    PyRef reason = PyRef::steal(PyUnicodeEncodeError_GetReason(error));
    PyRef named = reason ? PyRef::steal(PyUnicode_FromFormat("%U in argument '%s'", reason.get(), name)) : PyRef();
    const char* named_text = named ? PyUnicode_AsUTF8(named.get()) : nullptr;
    // Without the name the original error still stands.
    if (named_text == nullptr || PyUnicodeEncodeError_SetReason(error, named_text) != 0) PyErr_Clear();
  }
#if PY_VERSION_HEX >= 0x030C0000
  PyErr_SetRaisedException(error);
#else
  PyErr_Restore(type, error, traceback);
#endif
}

}  // namespace

ArgumentLayout::ArgumentLayout(const char* function_name, std::vector<const char*> names, std::size_t required)
    : function_name_(function_name), names_(std::move(names)), required_(required) {
  // Interned once, so that keywords (which CPython interns too) usually match
  // by pointer before any string comparison.
  interned_names_.reserve(names_.size());
  for (const char* name : names_) interned_names_.push_back(PyUnicode_InternFromString(name));
}

bool ArgumentLayout::place_keyword(PyObject* keyword, PyObject* value, std::span<PyObject*> slots) const {
  std::size_t index = names_.size();
  for (std::size_t i = 0; i < interned_names_.size(); ++i) {
    if (interned_names_[i] == keyword) {
      index = i;
      break;
    }
  }
  if (index == names_.size()) {
    for (std::size_t i = 0; i < interned_names_.size(); ++i) {
      if (interned_names_[i] != nullptr && PyUnicode_Compare(interned_names_[i], keyword) == 0) {
        index = i;
        break;
      }
    }
  }
  if (index == names_.size()) {
    PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", function_name_, keyword);
    return false;
  }
  if (slots[index] != nullptr) {
    PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", function_name_, names_[index]);
    return false;
  }
  slots[index] = value;
  return true;
}

bool ArgumentLayout::check_required(std::span<PyObject*> slots) const {
  for (std::size_t i = 0; i < required_; ++i) {
    if (slots[i] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %zu)", function_name_, names_[i],
                   i + 1);
      return false;
    }
  }
  return true;
}

bool ArgumentLayout::bind_fastcall(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                 std::span<PyObject*> slots) const {
  const auto positional = static_cast<std::size_t>(PyVectorcall_NARGS(nargs));
  if (positional > names_.size()) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu arguments (%zu given)", function_name_, names_.size(),
                 positional);
    return false;
  }
  for (std::size_t i = 0; i < positional; ++i) slots[i] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
      if (!place_keyword(PyTuple_GET_ITEM(kwnames, k), args[positional + static_cast<std::size_t>(k)], slots)) {
        return false;
      }
    }
  }
  return check_required(slots);
}

bool ArgumentLayout::bind_tuple(PyObject* args, PyObject* kwargs, std::span<PyObject*> slots) const {
  const auto positional = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
  if (positional > names_.size()) {
    PyErr_Format(PyExc_TypeError, "%s() takes at most %zu arguments (%zu given)", function_name_, names_.size(),
                 positional);
    return false;
  }
  for (std::size_t i = 0; i < positional; ++i) slots[i] = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i));
  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* keyword = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &keyword, &value)) {
      if (!PyUnicode_Check(keyword)) {
        PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", function_name_);
        return false;
      }
      if (!place_keyword(keyword, value, slots)) return false;
    }
  }
  return check_required(slots);
}

std::optional<std::uint64_t> to_unsigned(PyObject* value, const char* name) {
  if (!PyIndex_Check(value)) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be an integer, not %.200s", name, Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  PyRef index = PyRef::steal(PyNumber_Index(value));
  if (!index) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "argument '%s' must be an integer, not %.200s", name, Py_TYPE(value)->tp_name);
    }
    return std::nullopt;
  }
  const unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
  if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_Clear();
      PyRef shown = echoed_value(index.get());
      if (!shown) return std::nullopt;
      PyErr_Format(PyExc_OverflowError, "argument '%s' must be a non-negative integer below 2**64, got %U", name,
                   shown.get());
    }
    return std::nullopt;
  }
  return static_cast<std::uint64_t>(converted);
}

std::optional<double> to_float(PyObject* value, const char* name) {
  const double converted = PyFloat_AsDouble(value);
  if (converted == -1.0 && PyErr_Occurred()) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_TypeError, "argument '%s' must be a real number, not %.200s", name,
                   Py_TYPE(value)->tp_name);
    } else if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_OverflowError, "argument '%s' is too large to convert to a float", name);
    }
    return std::nullopt;
  }
  return converted;
}

std::optional<std::string> to_text(PyObject* value, const char* name) {
  if (!PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "argument '%s' must be str, not %.200s", name, Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  Py_ssize_t length = 0;
  const char* data = PyUnicode_AsUTF8AndSize(value, &length);
  if (data == nullptr) {
    name_argument_in_encode_error(name);
    return std::nullopt;
  }
  return std::string(data, static_cast<std::size_t>(length));
}

PyObject* breakpoints_to_list(std::span<const std::uint64_t> breakpoints) {
  PyRef list = PyRef::require(PyList_New(static_cast<Py_ssize_t>(breakpoints.size())));
  for (std::size_t i = 0; i < breakpoints.size(); ++i) {
    PyObject* item = PyLong_FromUnsignedLongLong(breakpoints[i]);
    if (item == nullptr) throw PythonErrorAlreadySet{};
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
  }
  return list.release();
}

PyObject* text_to_python(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

}  // namespace tarnwell::python
