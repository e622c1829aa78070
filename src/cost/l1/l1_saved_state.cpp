#include "cost/l1/l1_cost.hpp"

namespace tarnwell {

void L1Cost::save(StateWriter& out) const {
  save_signal(out, signal_.n_samples(), signal_.n_features(), signal_.values());
}

Result<L1Cost> L1Cost::restore(StateReader& in) {
  TARNWELL_TRY(signal, restore_signal(in));
  return with_indexes(std::move(signal));
}

}  // namespace tarnwell
