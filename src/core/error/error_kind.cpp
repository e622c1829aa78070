#include "core/error/error_kind.hpp"

#include <array>

#include "core/error/message.hpp"

namespace tarnwell {
namespace {

constexpr std::array<std::string_view, catalogue_size> message_templates = {
    "signal must contain at least one sample and one feature",
    "signal must be one- or two-dimensional, got {} dimensions",
    "signal contains a non-finite value at row {}, column {}",
    "signal storage has length {}, expected {}",
    "response and design have different sample counts: {} and {}",
    "invalid segment [{}, {}) for a signal of length {}",
    "segment [{}, {}) has length {}, below minimum {}",
    "min_size must be positive, got {}",
    "min_size {} is below the cost function minimum {}",
    "jump must be positive, got {}",
    "penalty must be finite and positive, got {}",
    "reconstruction budget must be finite and nonnegative, got {}",
    "breakpoints must not be empty",
    "breakpoint at position {} is {}, but breakpoints must be strictly increasing and no larger than {}",
    "last breakpoint must equal n_samples ({}), got {}",
    "exhaustive test oracle supports at most {} samples, got {}",
    "objective value must be finite, got {}",
    "cannot segment {} samples into {} changes with min_size={} and jump={}",
    "{} does not support the {} stopping rule",
    "exactly one stopping rule must be provided",
    "breakpoint sequences describe different sample lengths: expected {}, got {}",
    "margin must be positive, got {}",
    "invalid synthetic dataset parameters",
    "gamma must be finite and positive, got {}",
    "sampled median requires at least one pair, got {}",
    "Gram prefix requires {} bytes, above configured limit {}",
    "Dynp prediction requires {} bytes, above configured limit {}",
    "memory limit must be positive, got {}",
    "memory allocation failed while {}",
    "unsupported model {}; supported models: {}",
    "ridge must be finite and positive, got {}",
    "autoregressive order must be positive, got {}",
    "{} requires at least {} features, got {}",
    "{} requires a scalar signal with exactly one feature, got {}",
    "weights have length {}, expected {}",
    "weight at position {} must be finite and nonnegative, got {}",
    "Mahalanobis metric must be a {}x{0} matrix, got {}x{}",
    "Mahalanobis metric must be finite, symmetric, and positive semidefinite",
    "unsupported kernel {}; supported kernels: linear, rbf, cosine",
    "unsupported kernel backend {}; supported backends: fused, full, streaming",
    "unsupported gamma policy {}; supported policies: exact, sampled",
    "{} must be fitted before this operation",
    "numerical failure while {}",
};

constexpr std::string_view l1_potts_memory_template =
    "L1Potts prediction requires {} bytes, above the physical memory of this machine ({} bytes)";

std::string format_field(const ErrorKind& error, std::size_t index) {
  if (index >= error.field_count()) return {};
  const ErrorField& field = error.field(index);
  switch (field.type) {
    case ErrorField::Type::unsigned_integer: return std::to_string(field.unsigned_value);
    case ErrorField::Type::floating: return format_plain_float(field.float_value);
    case ErrorField::Type::static_text: return std::string(field.static_text);
    case ErrorField::Type::owned_text: return quote_text(error.owned_text());
  }
  return {};
}

}  // namespace

std::string ErrorKind::message() const {
  if (code_ == ErrorCode::value_error_text || code_ == ErrorCode::not_implemented_text) return owned_text_;
  if (code_ == ErrorCode::interrupted) return "search interrupted";
  const std::string_view pattern = code_ == ErrorCode::l1_potts_memory_limit
                                       ? l1_potts_memory_template
                                       : message_templates[static_cast<std::size_t>(code_)];
  std::string text;
  std::size_t next_field = 0;
  for (std::size_t at = 0; at < pattern.size(); ++at) {
    if (pattern[at] == '{') {
      const std::size_t close = pattern.find('}', at);
      const std::string_view inside = pattern.substr(at + 1, close - at - 1);
      // "{}" takes the next field in order; "{i}" repeats field i.
      text += inside.empty() ? format_field(*this, next_field++)
                             : format_field(*this, static_cast<std::size_t>(inside[0] - '0'));
      at = close;
    } else {
      text.push_back(pattern[at]);
    }
  }
  return text;
}

ExceptionClass ErrorKind::exception_class() const noexcept {
  switch (code_) {
    case ErrorCode::gram_memory_limit:
    case ErrorCode::dynp_memory_limit:
    case ErrorCode::l1_potts_memory_limit:
    case ErrorCode::allocation_failed: return ExceptionClass::memory_error;
    case ErrorCode::non_finite_objective:
    case ErrorCode::numerical_failure: return ExceptionClass::tarnwell_error;
    case ErrorCode::not_fitted: return ExceptionClass::runtime_error;
    case ErrorCode::not_implemented_text: return ExceptionClass::not_implemented_error;
    case ErrorCode::interrupted: return ExceptionClass::keyboard_interrupt;
    default: return ExceptionClass::value_error;
  }
}

}  // namespace tarnwell
