// _force_portable_paths(forced) and _vector_path_counts(): the tests' handle on
// the vectorised routines, so that each is compared with its portable twin
// on the same problems on any machine. Private: not in __all__.
#include "core/vector_paths.hpp"
#include "python/mod/class_builder.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

constexpr auto forced_only = ParameterTable<ObjectParameter>{ObjectParameter{"forced"}};
constexpr auto no_parameters = ParameterTable<>{};

PyObject* force_portable_paths_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_force_portable_paths", forced_only);
  return run_function("forcing the portable paths", layout, forced_only, args, nargs, kwnames,
                      [](PyObject* forced) -> Result<PyRef> {
                        const int truth = forced == nullptr ? 0 : PyObject_IsTrue(forced);
                        if (truth < 0) throw PythonErrorAlreadySet{};
                        force_portable_paths(truth != 0);
                        return PyRef::borrow(Py_None);
                      });
}

PyObject* vector_path_counts_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_vector_path_counts", no_parameters);
  return run_function("reading the vector path counts", layout, no_parameters, args, nargs, kwnames,
                      []() -> Result<PyRef> {
                        PyRef counts = PyRef::require(PyDict_New());
                        for (std::size_t index = 0; index < vector_path_names.size(); ++index) {
                          const VectorPathCounts path = vector_path_counts(static_cast<VectorPath>(index));
                          PyRef pair = PyRef::require(Py_BuildValue("(KK)",
                                                                    static_cast<unsigned long long>(path.vectorised),
                                                                    static_cast<unsigned long long>(path.portable)));
                          const std::string_view name = vector_path_names[index];
                          PyRef key = PyRef::require(
                              PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
                          if (PyDict_SetItem(counts.get(), key.get(), pair.get()) < 0) throw PythonErrorAlreadySet{};
                        }
                        return counts;
                      });
}

}  // namespace

PyMethodDef* force_portable_paths_function() {
  return function_definition<&force_portable_paths_entry>(
      "_force_portable_paths", forced_only,
      "Make every search take the portable form of its vectorised routines while `forced` is true (for tests "
      "comparing both forms on one machine).");
}

PyMethodDef* vector_path_counts_function() {
  return function_definition<&vector_path_counts_entry>(
      "_vector_path_counts", no_parameters,
      "How often each vectorised routine ran in each form since the module loaded: a dict from the routine's "
      "name to (vectorised runs, portable runs).");
}

}  // namespace tarnwell::python
