#include "cost/normal/normal_cost.hpp"

namespace tarnwell {

void NormalCost::save(StateWriter& out) const {
  out.put(ridge_);
  scatter_.save(out);
}

Result<NormalCost> NormalCost::restore(StateReader& in) {
  double ridge = 0.0;
  TARNWELL_CHECK(in.get(ridge));
  if (!(ridge > 0.0)) return errors::fail(in.invalid("the ridge is not positive"));
  TARNWELL_TRY(scatter, ScatterStatistics::restore(in));
  return NormalCost(std::move(scatter), ridge);
}

}  // namespace tarnwell
