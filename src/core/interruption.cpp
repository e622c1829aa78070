#include "core/interruption.hpp"

#include <chrono>

namespace tarnwell {
namespace {

constexpr long long poll_interval_nanoseconds = 50'000'000;
// Clock reads closer than this make the stride longer, farther than the
// ceiling make it shorter, so reads come roughly every millisecond or two.
constexpr long long read_floor_nanoseconds = 500'000;
constexpr long long read_ceiling_nanoseconds = 5'000'000;
constexpr unsigned longest_stride = 1u << 20;

long long now_nanoseconds() noexcept {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

thread_local long long last_read_nanoseconds = 0;

}  // namespace

InterruptionScope::InterruptionScope(InterruptionPoller poller) noexcept
    : previous_(interruption_detail::state.poller) {
  interruption_detail::ThreadState& current = interruption_detail::state;
  current.poller = poller;
  current.countdown = 1;
  current.stride = 1;
  current.last_poll_nanoseconds = now_nanoseconds();
  last_read_nanoseconds = current.last_poll_nanoseconds;
}

InterruptionScope::~InterruptionScope() { interruption_detail::state.poller = previous_; }

namespace interruption_detail {

Status check_slowly(ThreadState& current) {
  const long long now = now_nanoseconds();
  const long long since_read = now - last_read_nanoseconds;
  last_read_nanoseconds = now;
  if (since_read < read_floor_nanoseconds && current.stride < longest_stride) {
    current.stride *= 2;
  } else if (since_read > read_ceiling_nanoseconds && current.stride > 1) {
    current.stride /= 2;
  }
  current.countdown = current.stride;
  if (now - current.last_poll_nanoseconds < poll_interval_nanoseconds) return {};
  current.last_poll_nanoseconds = now;
  if (current.poller()) return errors::fail(errors::interrupted());
  return {};
}

}  // namespace interruption_detail
}  // namespace tarnwell
