// The built-in cost family after fitting: one variant over the fitted costs of
// the cost list. Searches dispatch on it once and then run an engine
// instantiated for the concrete cost; single queries (the cost classes'
// error()) dispatch per call.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <variant>

#include "core/saved_state.hpp"
#include "core/signal.hpp"
#include "core/strided_matrix.hpp"
#include "cost/cost_model.hpp"
#include "cost/sum_of_costs.hpp"

namespace tarnwell {

// A fitted cost from its saved form; costs whose saved fields depend on a
// model parameter check them against the model.
template <class Cost, class Model>
Result<Cost> restore_cost(StateReader& in, const Model& model) {
  if constexpr (requires { Cost::restore(in, model); }) {
    return Cost::restore(in, model);
  } else {
    return Cost::restore(in);
  }
}

class FittedCost {
 public:
  using Variant = CostListVariants<BuiltinCostModels>::Fitted;

  // Reads the caller's array in place where the model can (see fit_from_view).
  static Result<FittedCost> fit(const CostModel& model, const StridedMatrix& view);
  static Result<FittedCost> fit(const CostModel& model, const Signal& signal);

  // The saved form (pickling): the cost's position in the cost list, then its own fields.
  // Restoring reads a cost of the model's kind and fails on any other.
  void save(StateWriter& out) const;
  static Result<FittedCost> restore(const CostModel& model, StateReader& in);

  template <class Cost>
    requires std::is_constructible_v<Variant, Cost>
  explicit FittedCost(Cost cost) : state_(std::move(cost)) {}

  // Calls visitor(concrete cost); every cost of the list must be handled.
  template <class Visitor>
  decltype(auto) visit(Visitor&& visitor) const {
    return std::visit(std::forward<Visitor>(visitor), state_);
  }

  std::uint64_t n_samples() const {
    return visit([](const auto& cost) { return cost.n_samples(); });
  }
  std::uint64_t n_features() const {
    return visit([](const auto& cost) { return cost.n_features(); });
  }
  std::uint64_t min_segment_length() const {
    return visit([](const auto& cost) { return cost.min_segment_length(); });
  }
  // The shortest segment a search considers: the minimum above, raised by a
  // cost whose shorter segments are degenerate although they have a cost
  // (NormalCost: a covariance needs n_features + 1 samples).
  std::uint64_t search_min_segment_length() const {
    return visit([](const auto& cost) -> std::uint64_t {
      if constexpr (requires { cost.search_min_segment_length(); }) {
        return cost.search_min_segment_length();
      } else {
        return cost.min_segment_length();
      }
    });
  }
  // Pelt's pruning constant, or nothing when the cost allows no pruning.
  std::optional<double> pelt_pruning_constant() const {
    return visit([](const auto& cost) { return cost.pelt_pruning_constant(); });
  }
  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const {
    return visit([&](const auto& cost) { return cost.segment_cost(start, end); });
  }
  Result<double> total_cost(std::span<const std::uint64_t> breakpoints) const {
    return visit([&](const auto& cost) { return sum_of_costs(cost, breakpoints); });
  }

 private:
  Variant state_;
};

}  // namespace tarnwell
