// Long searches can be interrupted by their caller (Ctrl-C) and can show how
// far they are. The binding layer installs a poller on the searching thread
// for the duration of a search; engines call check_interruption() once per
// outer step, with how far they are when they know it. Reading the clock is
// spaced out adaptively so that it happens about every millisecond whatever
// a step costs, and the poller is asked about every 50 ms of work, so a step
// pays a counter decrement and almost never more; the progress figures are
// only looked at then. Without an installed poller the check does nothing.
#pragma once

#include <cstdint>

#include "core/error/error_kind.hpp"

namespace tarnwell {

// Answers true when the search should stop; may take locks of the caller's
// runtime, so it is only called every few tens of milliseconds.
using InterruptionPoller = bool (*)();

class InterruptionScope {
 public:
  explicit InterruptionScope(InterruptionPoller poller) noexcept;
  ~InterruptionScope();
  InterruptionScope(const InterruptionScope&) = delete;
  InterruptionScope& operator=(const InterruptionScope&) = delete;

 private:
  InterruptionPoller previous_;
};

// How far the search on this thread was at its last poll: `done` units of
// work out of `total` (0 when the step does not know its share).
struct SearchProgress {
  std::uint64_t done = 0;
  std::uint64_t total = 0;
};

namespace interruption_detail {
struct ThreadState {
  InterruptionPoller poller = nullptr;
  unsigned countdown = 1;  // steps until the clock is read again
  unsigned stride = 1;     // steps between clock reads
  long long last_poll_nanoseconds = 0;
  long long last_read_nanoseconds = 0;
  SearchProgress progress;
};
inline thread_local ThreadState state;
Status check_slowly(ThreadState& current, std::uint64_t done, std::uint64_t total);
}  // namespace interruption_detail

inline Status check_interruption(std::uint64_t done = 0, std::uint64_t total = 0) {
  interruption_detail::ThreadState& current = interruption_detail::state;
  if (current.poller == nullptr || --current.countdown != 0) [[likely]] return {};
  return interruption_detail::check_slowly(current, done, total);
}

// Work units of a loop whose step `step` (from 0) costs in proportion to
// step + 1, as a search that tries every earlier start does: the steps up to
// it, 1 + 2 + ... + (step + 1). Saturates instead of overflowing.
constexpr std::uint64_t triangular_work(std::uint64_t step) noexcept {
  const std::uint64_t count = step + 1;
  if (count > (std::uint64_t{1} << 32)) return UINT64_MAX;
  return count * (count + 1) / 2;
}

// The progress of the search on the calling thread, for the poller.
SearchProgress reported_progress() noexcept;

}  // namespace tarnwell
