// pw_constant, pw_linear, pw_normal and pw_wavy(n_samples, n_features=1,
// n_bkps=3, noise_std=1.0, seed=0) -> (signal, breakpoints).
#include <memory>

#include "datasets/piecewise_dataset.hpp"
#include "python/boundary/call_guard.hpp"
#include "python/mod/class_builder.hpp"
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

constexpr auto generator_table =
    ParameterTable<UnsignedParameter, UnsignedParameter, UnsignedParameter, RealParameter, UnsignedParameter>{
        UnsignedParameter{"n_samples"}, UnsignedParameter{"n_features", 1}, UnsignedParameter{"n_bkps", 3},
        RealParameter{"noise_std", 1.0, "1.0"}, UnsignedParameter{"seed", 0}};

struct GeneratorNames {
  const char* function;
  const char* operation;
  const char* description;
};

#define TARNWELL_DOC_GENERATOR                                                                                      \
  "Segment lengths are random (each at least one sample), Gaussian noise is added, and the same arguments always " \
  "give the same values. Returns (signal, breakpoints): a float64 array of shape (n_samples, n_features) and the " \
  "true breakpoints, a list of n_bkps + 1 indices ending with n_samples.\n\n"                                    \
  "n_samples: the signal's length (more than n_bkps).\nn_features: its number of columns (at least 1).\n"        \
  "n_bkps: the number of changes.\nnoise_std: the noise standard deviation (finite, not negative).\n"             \
  "seed: the seed of every random draw."

constexpr GeneratorNames names_of(SegmentShape shape) {
  switch (shape) {
    case SegmentShape::constant:
      return {"pw_constant", "generating pw_constant",
              "A synthetic piecewise-constant signal: every segment has a random level per feature, changes are "
              "in the mean.\n\n" TARNWELL_DOC_GENERATOR};
    case SegmentShape::linear:
      return {"pw_linear", "generating pw_linear",
              "A synthetic piecewise-linear signal: every segment has a random intercept and slope per feature.\n\n"
              TARNWELL_DOC_GENERATOR};
    case SegmentShape::normal:
      return {"pw_normal", "generating pw_normal",
              "A synthetic signal whose segments differ in mean and spread: every segment draws Gaussian values "
              "with a random mean and scale per feature.\n\n" TARNWELL_DOC_GENERATOR};
    case SegmentShape::wavy:
      return {"pw_wavy", "generating pw_wavy",
              "A synthetic piecewise-sinusoidal signal: every segment has a random amplitude, frequency and phase "
              "per feature.\n\n" TARNWELL_DOC_GENERATOR};
  }
  return {"", "", ""};
}

template <SegmentShape shape>
PyObject* generator_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  constexpr GeneratorNames names = names_of(shape);
  static const ArgumentLayout layout = argument_layout(names.function, generator_table);
  return run_function(names.operation, layout, generator_table, args, nargs, kwnames,
                      [](std::uint64_t n_samples, std::uint64_t n_features, std::uint64_t n_bkps, double noise_std,
                         std::uint64_t seed) -> Result<PyRef> {
                        const DatasetParameters parameters{n_samples, n_features, n_bkps, noise_std, seed};
                        TARNWELL_TRY(dataset, generate_piecewise_dataset(shape, parameters));
                        return dataset_to_python(std::move(dataset));
                      });
}

template <SegmentShape shape>
PyMethodDef* generator_definition() {
  return function_definition<&generator_entry<shape>>(names_of(shape).function, generator_table,
                                                     names_of(shape).description);
}

}  // namespace

PyMethodDef* pw_constant_function() { return generator_definition<SegmentShape::constant>(); }
PyMethodDef* pw_linear_function() { return generator_definition<SegmentShape::linear>(); }
PyMethodDef* pw_normal_function() { return generator_definition<SegmentShape::normal>(); }
PyMethodDef* pw_wavy_function() { return generator_definition<SegmentShape::wavy>(); }

}  // namespace tarnwell::python
