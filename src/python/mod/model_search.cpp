#include "python/mod/model_search.hpp"

#include <utility>

#include "core/error/message.hpp"
#include "core/interruption.hpp"
#include "core/internal_check.hpp"
#include "python/custom_cost/custom_cost_protocol.hpp"
#include "python/mod/search_dispatch.hpp"

namespace tarnwell::python {

bool ModelSearchState::uses_batch_callback() const noexcept {
  const auto* adapter = std::get_if<std::shared_ptr<const CustomCostAdapter>>(&fitted);
  return adapter != nullptr && (*adapter)->uses_batch_callback();
}

std::optional<std::uint64_t> ModelSearchState::fitted_n_samples() const noexcept {
  return read_fitted(std::optional<std::uint64_t>(), [](const auto& cost) { return std::optional(cost.n_samples()); });
}

PyRef ModelSearchState::model_value() const {
  if (!model) return PyRef::require(PyUnicode_FromString("custom"));
  return model->python_value();
}

std::string ModelSearchState::model_repr() const {
  if (!model) return quote_text("custom");
  return model->repr_text();
}

int ModelSearchState::traverse(visitproc visit, void* arg) const {
  Py_VISIT(custom_cost.get());
  if (const auto* adapter = std::get_if<std::shared_ptr<const CustomCostAdapter>>(&fitted)) {
    return (*adapter)->traverse(visit, arg);
  }
  return 0;
}

// The references are moved out before they are dropped: dropping the last one
// may run Python code (a finalizer) that reads this object again, and it must
// then find a consistent, empty state.
void ModelSearchState::clear() noexcept {
  ModelFittedState dropped_fit = std::exchange(fitted, ModelFittedState{});
  PyRef dropped_cost = std::move(custom_cost);
}

Result<SearchCost> choose_search_cost(PyObject* custom_cost, const ModelArgument& model) {
  if (custom_cost != nullptr) {
    const std::uint64_t min_size = check_custom_cost_protocol(custom_cost);
    return SearchCost{std::nullopt, PyRef::borrow(custom_cost), min_size};
  }
  TARNWELL_TRY(chosen, choose_model(model));
  const std::uint64_t min_size = chosen.model.min_segment_length();
  return SearchCost{std::move(chosen), PyRef(), min_size};
}

void store_search_cost(ModelSearchState& state, SearchCost cost, std::uint64_t requested_min_size) {
  state.parameters.min_size = std::max(requested_min_size, cost.min_segment_length);
  state.model = std::move(cost.model);
  state.custom_cost_given = static_cast<bool>(cost.custom_cost);
  state.custom_cost = std::move(cost.custom_cost);
}

namespace {

Result<ModelFittedState> new_fit(const ModelSearchState& state, const ArrayArgument& signal, const char* class_name) {
  if (state.custom_cost_given) {
    // Only a garbage-collector clear of an unreachable object empties it;
    // a finalizer could still call fit on such an object.
    TARNWELL_ASSERT(state.custom_cost, "the custom cost of this search was cleared by the garbage collector");
    TARNWELL_TRY(adapter, fit_custom_cost(state.custom_cost.get(), signal, state.parameters.min_size, class_name));
    return ModelFittedState(std::move(adapter));
  }
  TARNWELL_ASSERT(state.model.has_value(), "a search without a custom cost has a model");
  TARNWELL_TRY(view, signal.signal_view());
  const CostModel& model = state.model->model;
  if (model.long_fit()) {
    TARNWELL_TRY(owned, Signal::copy_from(view));
    Result<FittedCost> fitted = fit_without_interpreter_lock([&] { return FittedCost::fit(model, owned); });
    if (!fitted) return errors::fail(std::move(fitted.error()));
    return ModelFittedState(std::make_shared<const FittedCost>(std::move(*fitted)));
  }
  // Fitting reads the caller's array, so it keeps the interpreter lock; a
  // long fit (an L1 median index, ranks) still ends on Ctrl-C.
  InterruptionScope interruptible(&pending_signal_raised);
  TARNWELL_TRY(fitted, FittedCost::fit(model, view));
  return ModelFittedState(std::make_shared<const FittedCost>(std::move(fitted)));
}

}  // namespace

Status fit_model_search(ModelSearchState& state, const ArrayArgument& signal, const char* class_name,
                        FailedFit failed) {
  if (failed == FailedFit::unfitted) {
    ModelFittedState dropped = std::exchange(state.fitted, ModelFittedState{});
  }
  TARNWELL_TRY(fitted, new_fit(state, signal, class_name));
  state.fitted = std::move(fitted);
  return {};
}

namespace {
constexpr std::uint64_t saved_builtin_fit = 0;
constexpr std::uint64_t saved_custom_fit = 1;
}  // namespace

void save_model_fit(const ModelSearchState& state, StateWriter& out) {
  if (const auto* adapter = std::get_if<std::shared_ptr<const CustomCostAdapter>>(&state.fitted)) {
    out.put(saved_custom_fit);
    out.put((*adapter)->n_samples());
    out.put((*adapter)->n_features());
    return;
  }
  out.put(saved_builtin_fit);
  std::get<std::shared_ptr<const FittedCost>>(state.fitted)->save(out);
}

Result<ModelFittedState> restore_model_fit(const ModelSearchState& state, StateReader& in, const char* class_name) {
  std::uint64_t family = 0;
  TARNWELL_CHECK(in.get(family));
  if (family != (state.custom_cost_given ? saved_custom_fit : saved_builtin_fit)) {
    return errors::fail(in.invalid(state.custom_cost_given ? "it was not fitted with a custom cost"
                                                           : "it was fitted with a custom cost"));
  }
  if (!state.custom_cost_given) {
    TARNWELL_ASSERT(state.model.has_value(), "a search without a custom cost has a model");
    TARNWELL_TRY(fitted, FittedCost::restore(state.model->model, in));
    return ModelFittedState(std::make_shared<const FittedCost>(std::move(fitted)));
  }
  std::uint64_t n_samples = 0;
  std::uint64_t n_features = 0;
  TARNWELL_CHECK(in.get_count(n_samples, "the sample count"));
  TARNWELL_CHECK(in.get_count(n_features, "the feature count"));
  TARNWELL_CHECK(in.check_array_size(n_samples, n_features));
  TARNWELL_ASSERT(state.custom_cost, "the custom cost of this search was cleared by the garbage collector");
  PyObject* object = state.custom_cost.get();
  const std::uint64_t object_min_size = check_custom_cost_protocol(object);
  if (state.parameters.min_size < object_min_size) {
    const std::string m = std::to_string(object_min_size);
    PyErr_SetString(PyExc_ValueError, ("custom_cost.min_size is " + m + "; construct " + class_name +
                                       " with min_size at least " + m)
                                          .c_str());
    throw PythonErrorAlreadySet{};
  }
  const CustomCostOptions options = read_custom_cost_options(object);
  return ModelFittedState(std::make_shared<const CustomCostAdapter>(PyRef::borrow(object), n_samples, n_features,
                                                                    state.parameters.min_size, options, class_name));
}

}  // namespace tarnwell::python
