// Input errors for signals whose values lie too far apart for a model's
// arithmetic: a ValueError that names the value and what to do, instead of a
// numerical failure deep in a fit.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/error/error_kind.hpp"

namespace tarnwell::errors {

// The deviation of sample `row`, column `column`, from the first sample is
// `deviation`, and `what` (squares, products) of such deviations leave the
// double range.
ErrorKind deviation_overflow(std::uint64_t row, std::uint64_t column, double deviation, std::string_view what);

}  // namespace tarnwell::errors
