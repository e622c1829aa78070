#include "cost/fitted_cost.hpp"

namespace tarnwell {

Result<FittedCost> FittedCost::fit(const CostModel& model, const Signal& signal) {
  return model.visit([&](const auto& descriptor) -> Result<FittedCost> {
    TARNWELL_TRY(fitted, descriptor.fit(signal));
    return FittedCost(std::move(fitted));
  });
}

}  // namespace tarnwell
