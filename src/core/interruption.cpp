#include "core/interruption.hpp"

#include <algorithm>
#include <chrono>

namespace tarnwell {
namespace {

constexpr long long poll_interval_nanoseconds = 50'000'000;
// The clock is read about this often: the stride (steps between reads)
// follows the measured cost of a step at every read, growing at most
// twofold (one unusually fast stretch must not make it overshoot) and
// shrinking at once, so a search whose steps grow slower still reads the
// clock, and polls, on time.
constexpr long long read_interval_nanoseconds = 1'000'000;
constexpr unsigned longest_stride = 1u << 20;

long long now_nanoseconds() noexcept {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

InterruptionScope::InterruptionScope(InterruptionPoller poller) noexcept
    : previous_(interruption_detail::state.poller) {
  interruption_detail::ThreadState& current = interruption_detail::state;
  current.poller = poller;
  current.countdown = 1;
  current.stride = 1;
  current.last_poll_nanoseconds = now_nanoseconds();
  current.last_read_nanoseconds = current.last_poll_nanoseconds;
  current.progress = {};
}

InterruptionScope::~InterruptionScope() { interruption_detail::state.poller = previous_; }

SearchProgress reported_progress() noexcept { return interruption_detail::state.progress; }

namespace interruption_detail {

Status check_slowly(ThreadState& current, std::uint64_t done, std::uint64_t total) {
  const long long now = now_nanoseconds();
  const long long since_read = std::max(now - current.last_read_nanoseconds, 1LL);
  current.last_read_nanoseconds = now;
  const double per_step = static_cast<double>(since_read) / current.stride;
  const double wanted = static_cast<double>(read_interval_nanoseconds) / per_step;
  const double limit = std::min(2.0 * current.stride, static_cast<double>(longest_stride));
  current.stride = static_cast<unsigned>(std::clamp(wanted, 1.0, limit));
  current.countdown = current.stride;
  if (now - current.last_poll_nanoseconds < poll_interval_nanoseconds) return {};
  current.last_poll_nanoseconds = now;
  current.progress = {done, total};
  if (current.poller()) return errors::fail(errors::interrupted());
  return {};
}

}  // namespace interruption_detail
}  // namespace tarnwell
