// Internal faults: broken invariants that no input should be able to cause.
// They throw InternalFault; the call guard of the binding layer turns any
// escaped exception into the module's own Python exception.
#pragma once

#include <source_location>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnwell {

class InternalFault : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The process-wide fault-report hook: called with the fault text just before
// the fault is thrown. The default writes it to standard error.
using FaultReporter = void (*)(std::string_view message);
FaultReporter set_fault_reporter(FaultReporter reporter) noexcept;

[[noreturn]] void raise_internal_fault(std::string_view message,
                                       std::source_location where = std::source_location::current());

}  // namespace tarnwell

#define TARNWELL_ASSERT(condition, message)                        \
  do {                                                             \
    if (!(condition)) ::tarnwell::raise_internal_fault(message);   \
  } while (false)
