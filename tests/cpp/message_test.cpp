#include <cmath>
#include <limits>

#include "check.hpp"
#include "core/error/error_kind.hpp"
#include "core/error/message.hpp"

using namespace tarnwell;

void run_message_tests() {
  // Shortest round-trip plain decimals, never an exponent.
  CHECK_EQ(format_plain_float(1.0), "1");
  CHECK_EQ(format_plain_float(1e-6), "0.000001");
  CHECK_EQ(format_plain_float(-2.0), "-2");
  CHECK_EQ(format_plain_float(0.5), "0.5");
  CHECK_EQ(format_plain_float(0.1), "0.1");
  CHECK_EQ(format_plain_float(1e21), "1000000000000000000000");
  CHECK_EQ(format_plain_float(1.5e-10), "0.00000000015");
  CHECK_EQ(format_plain_float(std::nan("")), "NaN");
  CHECK_EQ(format_plain_float(-std::nan("")), "NaN");
  CHECK_EQ(format_plain_float(std::numeric_limits<double>::infinity()), "inf");
  CHECK_EQ(format_plain_float(-std::numeric_limits<double>::infinity()), "-inf");
  CHECK(format_plain_float(std::numeric_limits<double>::max()).size() == 309);
  CHECK(format_plain_float(std::numeric_limits<double>::denorm_min()).starts_with("0.000"));

  // Quoting of caller-supplied names.
  CHECK_EQ(quote_text("foo"), "\"foo\"");
  CHECK_EQ(quote_text("a\"b\\c"), "\"a\\\"b\\\\c\"");
  CHECK_EQ(quote_text("tab\tnew\nline\r"), "\"tab\\tnew\\nline\\r\"");
  CHECK_EQ(quote_text(std::string_view("\x01", 1)), "\"\\u{1}\"");
  CHECK_EQ(ascii_lowercase("FoO-\xc3\x89"), "foo-\xc3\x89");

  // Templates, payload order and the repeated placeholder.
  CHECK_EQ(errors::invalid_penalty(-1.0).message(), "penalty must be finite and positive, got -1");
  CHECK_EQ(errors::invalid_penalty(std::nan("")).message(), "penalty must be finite and positive, got NaN");
  CHECK_EQ(errors::metric_shape(3, 2, 4).message(), "Mahalanobis metric must be a 3x3 matrix, got 2x4");
  CHECK_EQ(errors::unsupported_model("fo\"o", "l2, l1, rank, normal, linear, ar, clinear, mahalanobis").message(),
           "unsupported model \"fo\\\"o\"; supported models: l2, l1, rank, normal, linear, ar, clinear, mahalanobis");
  CHECK_EQ(errors::numerical_failure("computing signal storage size").message(),
           "numerical failure while computing signal storage size");
  CHECK_EQ(errors::segment_too_short(0, 3, 3, 5).message(), "segment [0, 3) has length 3, below minimum 5");
  CHECK_EQ(errors::value_error_text("synthetic dataset dimensions overflow").message(),
           "synthetic dataset dimensions overflow");

  // Exception classes by kind.
  CHECK(errors::allocation_failed("x").exception_class() == ExceptionClass::memory_error);
  CHECK(errors::dynp_memory_limit(1, 1).exception_class() == ExceptionClass::memory_error);
  CHECK(errors::gram_memory_limit(1, 1).exception_class() == ExceptionClass::memory_error);
  CHECK(errors::non_finite_objective(1).exception_class() == ExceptionClass::tarnwell_error);
  CHECK(errors::numerical_failure("x").exception_class() == ExceptionClass::tarnwell_error);
  CHECK(errors::not_fitted("Pelt").exception_class() == ExceptionClass::runtime_error);
  CHECK(errors::infeasible(1, 2, 3, 4).exception_class() == ExceptionClass::value_error);
}
