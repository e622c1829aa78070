// The built-in cost family after fitting: one tagged union over the kinds.
// Searches dispatch on the tag once and then run an engine instantiated for
// the concrete kind; single queries (the cost classes' error()) switch per call.
#pragma once

#include <cstdint>
#include <span>
#include <variant>

#include "core/internal_check.hpp"
#include "core/signal.hpp"
#include "cost/cost_model.hpp"
#include "cost/l2/l2_cost.hpp"
#include "cost/sum_of_costs.hpp"

namespace tarnwell {

class FittedCost {
 public:
  static Result<FittedCost> fit(const CostModel& model, const Signal& signal);
  explicit FittedCost(L2Cost cost) : kind_(CostKind::l2), state_(std::move(cost)) {}

  CostKind kind() const noexcept { return kind_; }

  // Calls visitor(concrete cost) for the fitted kind.
  template <class Visitor>
  decltype(auto) visit(Visitor&& visitor) const {
    switch (kind_) {
      case CostKind::l2: return visitor(std::get<L2Cost>(state_));
      default: break;
    }
    raise_internal_fault("fitted cost holds a kind this build does not provide");
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
  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const {
    return visit([&](const auto& cost) { return cost.segment_cost(start, end); });
  }
  Result<double> total_cost(std::span<const std::uint64_t> breakpoints) const {
    return visit([&](const auto& cost) { return sum_of_costs(cost, breakpoints); });
  }

 private:
  CostKind kind_;
  std::variant<L2Cost> state_;
};

}  // namespace tarnwell
