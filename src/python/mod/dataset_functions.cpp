// pw_constant, pw_linear, pw_normal and pw_wavy(n_samples, n_features=1,
// n_bkps=3, noise_std=1.0, seed=0) -> (signal, breakpoints).
#include <memory>

#include "datasets/piecewise_dataset.hpp"
#include "python/boundary/call_guard.hpp"
#include "python/mod/arguments.hpp"
#include "python/mod/heap_type.hpp"
#include "python/mod/registry.hpp"

#define NO_IMPORT_ARRAY
#include "python/mod/numpy_api.hpp"

namespace tarnwell::python {
namespace {

constexpr const char* values_owner_name = "tarnwell._tarnwell.dataset_values";

void free_owned_values(PyObject* owner) {
  delete static_cast<std::vector<double>*>(PyCapsule_GetPointer(owner, values_owner_name));
}

// A float64 array of shape (n_samples, n_features) over the generated buffer
// itself. The buffer moves into a capsule that becomes the array's base, so it
// lives exactly as long as the array and every view of it, and no copy of the
// (possibly large) signal is ever made.
PyRef adopt_as_array(std::vector<double> values, std::uint64_t n_samples, std::uint64_t n_features) {
  auto owned = std::make_unique<std::vector<double>>(std::move(values));
  double* data = owned->data();
  PyRef owner = PyRef::require(PyCapsule_New(owned.get(), values_owner_name, &free_owned_values));
  owned.release();  // the capsule frees it from here on, whatever happens next
  // The buffer was allocated with n_samples * n_features doubles, so both
  // extents fit npy_intp.
  npy_intp dimensions[2] = {static_cast<npy_intp>(n_samples), static_cast<npy_intp>(n_features)};
  PyRef array = PyRef::require(PyArray_SimpleNewFromData(2, dimensions, NPY_FLOAT64, data));
  // Steals the owner reference, also on failure.
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), owner.release()) < 0) {
    throw PythonErrorAlreadySet{};
  }
  return array;
}

PyRef dataset_to_python(PiecewiseDataset dataset) {
  PyRef breakpoints = PyRef::require(breakpoints_to_list(dataset.breakpoints));
  PyRef signal = adopt_as_array(std::move(dataset.values), dataset.n_samples, dataset.n_features);
  return PyRef::require(PyTuple_Pack(2, signal.get(), breakpoints.get()));
}

// Converts the arguments in declaration order; omitted ones keep their defaults.
std::optional<DatasetParameters> convert_parameters(const BoundArguments<5>& bound) {
  DatasetParameters parameters;
  const std::optional<std::uint64_t> n_samples = to_unsigned(bound[0], "n_samples");
  if (!n_samples) return std::nullopt;
  parameters.n_samples = *n_samples;
  if (bound[1] != nullptr) {
    const std::optional<std::uint64_t> n_features = to_unsigned(bound[1], "n_features");
    if (!n_features) return std::nullopt;
    parameters.n_features = *n_features;
  }
  if (bound[2] != nullptr) {
    const std::optional<std::uint64_t> n_bkps = to_unsigned(bound[2], "n_bkps");
    if (!n_bkps) return std::nullopt;
    parameters.n_bkps = *n_bkps;
  }
  if (bound[3] != nullptr) {
    const std::optional<double> noise_std = to_float(bound[3], "noise_std");
    if (!noise_std) return std::nullopt;
    parameters.noise_std = *noise_std;
  }
  if (bound[4] != nullptr) {
    const std::optional<std::uint64_t> seed = to_unsigned(bound[4], "seed");
    if (!seed) return std::nullopt;
    parameters.seed = *seed;
  }
  return parameters;
}

struct GeneratorNames {
  const char* function;
  const char* operation;
};

constexpr GeneratorNames names_of(SegmentShape shape) {
  switch (shape) {
    case SegmentShape::constant: return {"pw_constant", "generating pw_constant"};
    case SegmentShape::linear: return {"pw_linear", "generating pw_linear"};
    case SegmentShape::normal: return {"pw_normal", "generating pw_normal"};
    case SegmentShape::wavy: return {"pw_wavy", "generating pw_wavy"};
  }
  return {"", ""};
}

template <SegmentShape shape>
PyObject* generator_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return at_entry([&]() -> PyObject* {
    constexpr GeneratorNames names = names_of(shape);
    static const ArgumentSpec spec(names.function, {"n_samples", "n_features", "n_bkps", "noise_std", "seed"}, 1);
    BoundArguments<5> bound;
    if (!spec.bind_fastcall(args, nargs, kwnames, bound.slots)) return nullptr;
    const std::optional<DatasetParameters> parameters = convert_parameters(bound);
    if (!parameters) return nullptr;
    return call_guarded(names.operation, [&]() -> Result<PyRef> {
      TARNWELL_TRY(dataset, generate_piecewise_dataset(shape, *parameters));
      return dataset_to_python(std::move(dataset));
    });
  });
}

template <SegmentShape shape>
PyCFunction generator_function() {
  return fastcall_method<&generator_entry<shape>>();
}

}  // namespace

PyMethodDef pw_constant_function = {
    "pw_constant", generator_function<SegmentShape::constant>(), METH_FASTCALL | METH_KEYWORDS,
    "pw_constant(n_samples, n_features=1, n_bkps=3, noise_std=1.0, seed=0)\n--\n\n"};

PyMethodDef pw_linear_function = {
    "pw_linear", generator_function<SegmentShape::linear>(), METH_FASTCALL | METH_KEYWORDS,
    "pw_linear(n_samples, n_features=1, n_bkps=3, noise_std=1.0, seed=0)\n--\n\n"};

PyMethodDef pw_normal_function = {
    "pw_normal", generator_function<SegmentShape::normal>(), METH_FASTCALL | METH_KEYWORDS,
    "pw_normal(n_samples, n_features=1, n_bkps=3, noise_std=1.0, seed=0)\n--\n\n"};

PyMethodDef pw_wavy_function = {
    "pw_wavy", generator_function<SegmentShape::wavy>(), METH_FASTCALL | METH_KEYWORDS,
    "pw_wavy(n_samples, n_features=1, n_bkps=3, noise_std=1.0, seed=0)\n--\n\n"};

}  // namespace tarnwell::python
