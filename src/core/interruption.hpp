// Long searches can be interrupted by their caller (Ctrl-C). The binding
// layer installs a poller on the searching thread for the duration of a
// search; engines call check_interruption() once per outer step. Reading the
// clock is spaced out adaptively and the poller is asked about every 50 ms of
// work, so a step pays a counter increment and almost never more; without an
// installed poller the check does nothing.
#pragma once

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

namespace interruption_detail {
struct ThreadState {
  InterruptionPoller poller = nullptr;
  unsigned countdown = 1;  // steps until the clock is read again
  unsigned stride = 1;     // steps between clock reads
  long long last_poll_nanoseconds = 0;
};
inline thread_local ThreadState state;
Status check_slowly(ThreadState& current);
}  // namespace interruption_detail

inline Status check_interruption() {
  interruption_detail::ThreadState& current = interruption_detail::state;
  if (current.poller == nullptr || --current.countdown != 0) [[likely]] return {};
  return interruption_detail::check_slowly(current);
}

}  // namespace tarnwell
