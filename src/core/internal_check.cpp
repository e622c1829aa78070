#include "core/internal_check.hpp"

#include <atomic>
#include <cstdio>

namespace tarnwell {
namespace {

void report_to_standard_error(std::string_view message) {
  std::fprintf(stderr, "tarnwell internal fault: %.*s\n", static_cast<int>(message.size()), message.data());
}

std::atomic<FaultReporter> current_reporter{&report_to_standard_error};

}  // namespace

FaultReporter set_fault_reporter(FaultReporter reporter) noexcept { return current_reporter.exchange(reporter); }

void raise_internal_fault(std::string_view message, std::source_location where) {
  std::string text(message);
  text += " (";
  text += where.file_name();
  text += ":";
  text += std::to_string(where.line());
  text += ")";
  current_reporter.load()(text);
  throw InternalFault(std::string(message));
}

}  // namespace tarnwell
