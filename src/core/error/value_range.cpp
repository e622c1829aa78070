#include "core/error/value_range.hpp"

#include <string>

#include "core/error/message.hpp"
#include "core/strided_matrix.hpp"

namespace tarnwell::errors {

ErrorKind deviation_overflow(std::uint64_t row, std::uint64_t column, double deviation, std::string_view what) {
  return value_error_text("signal value at row " + std::to_string(row) + ", column " + std::to_string(column) +
                          " lies " + (is_finite_value(deviation) ? format_repr_float(deviation) : "more than 1.8e308") +
                          " from the first sample: the " + std::string(what) +
                          " of the model's deviations leave the double range (about 1.8e308); clip or remove "
                          "that value, or use model='rank', which depends only on the order of the values");
}

}  // namespace tarnwell::errors
