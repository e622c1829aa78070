#include "python/boundary/call_guard.hpp"

#include <limits>
#include <mutex>
#include <string>

#include "core/internal_check.hpp"

namespace tarnwell::python {
namespace {

thread_local unsigned guard_depth = 0;
FaultReporter previous_reporter = nullptr;

// Inside a guarded call the exception alone reports the fault; outside one,
// the previously installed hook still gets to print it.
void report_unless_guarded(std::string_view message) {
  if (guard_depth == 0 && previous_reporter != nullptr) previous_reporter(message);
}

}  // namespace

GuardDepth::GuardDepth() noexcept {
  if (guard_depth != std::numeric_limits<unsigned>::max()) ++guard_depth;
}

GuardDepth::~GuardDepth() {
  if (guard_depth != 0) --guard_depth;
}

unsigned GuardDepth::current() noexcept { return guard_depth; }

void install_fault_hook_once() noexcept {
  static std::once_flag installed;
  std::call_once(installed, [] { previous_reporter = set_fault_reporter(&report_unless_guarded); });
}

PyObject* raise_internal_panic(const char* operation, const char* detail) noexcept {
  try {
    std::string message = "internal native panic while ";
    message += operation;
    message += ": ";
    message += detail;
    PyObject* error_class = tarnwell_error_class();
    if (error_class == nullptr) return nullptr;
    PyErr_SetString(error_class, message.c_str());
  } catch (...) {
    PyErr_NoMemory();
  }
  return nullptr;
}

PyObject* raise_allocation_failure(const char* operation) noexcept {
  try {
    return raise_error(errors::allocation_failed(operation));
  } catch (...) {
    return PyErr_NoMemory();
  }
}

}  // namespace tarnwell::python
