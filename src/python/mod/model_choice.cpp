#include "python/mod/model_choice.hpp"

#include "core/error/message.hpp"
#include "python/mod/cost_class.hpp"

namespace tarnwell::python {
namespace {

template <class... Models>
std::optional<CostModel> find_cost_object_model(PyObject* object, CostList<Models...>) {
  std::optional<CostModel> found;
  auto try_one = [&]<class Model>() {
    if constexpr (requires { Model::class_name; }) {
      if (found || Py_TYPE(object) != CostClass<Model>::type()) return;
      found = with_shared<CostObjectState<Model>>(
          object, [](const CostObjectState<Model>& state) { return CostModel(state.model); });
    }
  };
  (try_one.template operator()<Models>(), ...);
  return found;
}

// "CostL2, CostL1, ..." for the type error.
template <class... Models>
std::string cost_class_names(CostList<Models...>) {
  std::string names;
  auto add_one = [&]<class Model>() {
    if constexpr (requires { Model::class_name; }) {
      names += (names.empty() ? "" : ", ");
      names += Model::class_name;
    }
  };
  (add_one.template operator()<Models>(), ...);
  return names;
}

}  // namespace

std::optional<CostModel> cost_object_model(PyObject* object) {
  return find_cost_object_model(object, BuiltinCostModels{});
}

std::optional<ModelArgument> ModelArgumentParameter::convert(PyObject* value) const {
  if (PyUnicode_Check(value)) {
    std::optional<std::string> text = to_text(value, name);
    if (!text) return std::nullopt;
    return ModelArgument{std::move(*text), {}};
  }
  if (std::optional<CostModel> model = cost_object_model(value)) return ModelArgument{{}, std::move(model)};
  static const std::string classes = cost_class_names(BuiltinCostModels{});
  PyErr_Format(PyExc_TypeError,
               "argument '%s' must be a model name (str) or a built-in cost object (%s), not %.200s; a cost "
               "written in Python goes in custom_cost",
               name, classes.c_str(), Py_TYPE(value)->tp_name);
  return std::nullopt;
}

Result<ModelChoice> choose_model(const ModelArgument& argument) {
  if (argument.configured) {
    TARNWELL_CHECK(argument.configured->visit([](const auto& model) -> Status {
      if constexpr (requires { model.check(); }) return model.check();
      return {};
    }));
    return ModelChoice{{}, *argument.configured};
  }
  TARNWELL_TRY(model, parse_model(argument.name));
  return ModelChoice{ascii_lowercase(argument.name), std::move(model)};
}

PyRef new_cost_object(const CostModel& model) {
  return model.visit([](const auto& descriptor) -> PyRef {
    using Model = std::remove_cvref_t<decltype(descriptor)>;
    PyTypeObject* type = CostClass<Model>::type();
    if (type == nullptr) throw PythonErrorAlreadySet{};
    // new_instance raises (PythonErrorAlreadySet) rather than failing.
    return std::move(new_instance(type, CostObjectState<Model>{descriptor, nullptr}).value());
  });
}

PyRef ModelChoice::python_value() const {
  if (!configured()) return PyRef::require(text_to_python(name));
  return new_cost_object(model);
}

std::string ModelChoice::repr_text() const {
  if (!configured()) return quote_text(name);
  PyRef text = PyRef::require(PyObject_Repr(python_value().get()));
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
  if (utf8 == nullptr) throw PythonErrorAlreadySet{};
  return std::string(utf8, static_cast<std::size_t>(size));
}

}  // namespace tarnwell::python
