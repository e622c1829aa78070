#include "cost/l1/median_index_switch.hpp"

#include <atomic>

namespace tarnwell {
namespace {
std::atomic<bool> median_index_enabled{true};
}  // namespace

bool l1_median_index_enabled() noexcept { return median_index_enabled.load(std::memory_order_relaxed); }

bool set_l1_median_index_enabled(bool enabled) noexcept {
  return median_index_enabled.exchange(enabled, std::memory_order_relaxed);
}

}  // namespace tarnwell
