#include "python/custom_cost/custom_cost_adapter.hpp"

#include <algorithm>
#include <cstring>
#include <string>

#define NO_IMPORT_ARRAY
#include "python/mod/numpy_api.hpp"

#include "core/strided_matrix.hpp"
#include "cost/segment_validation.hpp"
#include "core/error/message.hpp"

namespace tarnwell::python {
namespace {

constexpr const char* callback_context = "executing a Python custom cost callback";

// The interpreter lock for the duration of one callback.
class CallbackInterpreterLock {
 public:
  CallbackInterpreterLock() noexcept : state_(PyGILState_Ensure()) {}
  ~CallbackInterpreterLock() { PyGILState_Release(state_); }
  CallbackInterpreterLock(const CallbackInterpreterLock&) = delete;
  CallbackInterpreterLock& operator=(const CallbackInterpreterLock&) = delete;

 private:
  PyGILState_STATE state_;
};

// One level of the interpreter's recursion check for a callback: a callback
// that leads back into a callback is native recursion the interpreter would
// not otherwise count.
class CallbackDepth {
 public:
  CallbackDepth() noexcept : entered_(Py_EnterRecursiveCall(" in a custom cost callback") == 0) {}
  ~CallbackDepth() {
    if (entered_) Py_LeaveRecursiveCall();
  }
  CallbackDepth(const CallbackDepth&) = delete;
  CallbackDepth& operator=(const CallbackDepth&) = delete;
  // False with RecursionError set.
  bool entered() const noexcept { return entered_; }

 private:
  bool entered_;
};

bool set_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  return false;
}

Status check_batch_segments(std::span<const std::uint64_t> starts, std::uint64_t end, std::uint64_t n_samples,
                            std::uint64_t min_size) {
  for (const std::uint64_t start : starts) {
    TARNWELL_CHECK(check_segment(start, end, n_samples));
    TARNWELL_CHECK(check_segment_length(start, end, min_size));
  }
  return {};
}

// A fresh one-dimensional uint64 array owned by Python; NULL with an exception set.
PyRef new_position_array(npy_intp count) {
  return PyRef::steal(PyArray_SimpleNew(1, &count, NPY_UINT64));
}

std::uint64_t* position_data(const PyRef& array) {
  return static_cast<std::uint64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())));
}

}  // namespace

bool CustomCostAdapter::call_error(std::uint64_t start, std::uint64_t end, double& value) const {
  const PyRef py_start = PyRef::steal(PyLong_FromUnsignedLongLong(start));
  if (!py_start) return false;
  const PyRef py_end = PyRef::steal(PyLong_FromUnsignedLongLong(end));
  if (!py_end) return false;
  PyObject* arguments[] = {object_.get(), py_start.get(), py_end.get()};
  const PyRef result = PyRef::steal(PyObject_VectorcallMethod(attribute_name_error(), arguments, 3, nullptr));
  if (!result) return false;
  value = PyFloat_CheckExact(result.get()) ? PyFloat_AS_DOUBLE(result.get()) : PyFloat_AsDouble(result.get());
  if (value == -1.0 && PyErr_Occurred() != nullptr) return false;
  if (!is_finite_value(value)) {
    return set_value_error("custom cost for segment returned a non-finite value: " + format_plain_float(value));
  }
  return true;
}

bool CustomCostAdapter::call_error_many(std::span<const std::uint64_t> starts, std::uint64_t end,
                                        double* values) const {
  const auto count = static_cast<npy_intp>(starts.size());
  const PyRef starts_array = new_position_array(count);
  if (!starts_array) return false;
  const PyRef ends_array = new_position_array(count);
  if (!ends_array) return false;
  std::memcpy(position_data(starts_array), starts.data(), starts.size() * sizeof(std::uint64_t));
  std::fill_n(position_data(ends_array), starts.size(), end);

  PyObject* arguments[] = {object_.get(), starts_array.get(), ends_array.get()};
  const PyRef result =
      PyRef::steal(PyObject_VectorcallMethod(attribute_name_error_many(), arguments, 3, nullptr));
  if (!result) return false;
  auto* array = reinterpret_cast<PyArrayObject*>(result.get());
  // Native byte order too: a byte-swapped float64 array cannot be read as doubles.
  if (!PyArray_Check(result.get()) || PyArray_NDIM(array) != 1 || PyArray_TYPE(array) != NPY_FLOAT64 ||
      !PyArray_ISNOTSWAPPED(array)) {
    PyErr_SetString(PyExc_TypeError, "custom_cost.error_many must return a one-dimensional float64 NumPy array");
    return false;
  }
  const npy_intp length = PyArray_DIM(array, 0);
  if (length != count) {
    return set_value_error("custom_cost.error_many returned " + std::to_string(length) + " values for " +
                           std::to_string(count) + " segments");
  }
  const char* data = PyArray_BYTES(array);
  const npy_intp stride = PyArray_STRIDE(array, 0);
  for (npy_intp i = 0; i < length; ++i) {
    double value;
    std::memcpy(&value, data + i * stride, sizeof value);
    if (!is_finite_value(value)) {
      return set_value_error("custom_cost.error_many returned a non-finite value " + format_plain_float(value) +
                             " for segment [" + std::to_string(starts[static_cast<std::size_t>(i)]) + ", " +
                             std::to_string(end) + ")");
    }
    values[i] = value;
  }
  return true;
}

ErrorKind CustomCostAdapter::keep_callback_exception() const noexcept {
  pending_.store(take_current_exception());
  return errors::numerical_failure(callback_context);
}

Result<double> CustomCostAdapter::segment_cost(std::uint64_t start, std::uint64_t end) const {
  TARNWELL_CHECK(check_segment(start, end, n_samples_));
  TARNWELL_CHECK(check_segment_length(start, end, min_size_));
  CallbackInterpreterLock lock;
  const CallbackDepth depth;
  if (!depth.entered()) return errors::fail(keep_callback_exception());
  double value = 0.0;
  const bool evaluated = options_.has_error_many ? call_error_many(std::span(&start, 1), end, &value)
                                                 : call_error(start, end, value);
  if (!evaluated) return errors::fail(keep_callback_exception());
  return value;
}

Status CustomCostAdapter::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                         EndpointBatch& out) const {
  if (!out.prepare(starts.size())) {
    return errors::fail(errors::allocation_failed("allocating a Python custom-cost endpoint batch"));
  }
  if (starts.empty()) return {};
  if (min_size_ == 0) return errors::fail(errors::min_size_zero(0));
  TARNWELL_CHECK(check_batch_segments(starts, end, n_samples_, min_size_));

  CallbackInterpreterLock lock;
  const CallbackDepth depth;
  if (!depth.entered()) return errors::fail(keep_callback_exception());
  if (options_.has_error_many) {
    if (!call_error_many(starts, end, out.data())) return errors::fail(keep_callback_exception());
    out.set_size(starts.size());
    return {};
  }
  for (const std::uint64_t start : starts) {
    double value = 0.0;
    if (!call_error(start, end, value)) return errors::fail(keep_callback_exception());
    out.push(value);
  }
  return {};
}

Result<std::shared_ptr<const CustomCostAdapter>> fit_custom_cost(PyObject* object, const ArrayArgument& signal,
                                                                std::uint64_t search_min_size,
                                                                const char* search_name) {
  TARNWELL_TRY(view, signal.signal_view());
  TARNWELL_CHECK(check_finite(view));
  PyObject* arguments[] = {object, signal.object()};
  const PyRef ignored = PyRef::require(PyObject_VectorcallMethod(attribute_name_fit(), arguments, 2, nullptr));

  const std::uint64_t object_min_size = check_custom_cost_protocol(object);
  if (search_min_size < object_min_size) {
    const std::string m = std::to_string(object_min_size);
    PyErr_SetString(PyExc_ValueError, ("custom_cost.min_size changed to " + m + " during fit; construct " +
                                       search_name + " with min_size at least " + m)
                                          .c_str());
    throw PythonErrorAlreadySet{};
  }
  const CustomCostOptions options = read_custom_cost_options(object);
  return std::make_shared<const CustomCostAdapter>(PyRef::borrow(object), view.n_samples, view.n_features,
                                                   search_min_size, options, search_name);
}

}  // namespace tarnwell::python
