// Text forms shared by error messages and representations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnwell {

// Shortest decimal that reads back to the same double, never in exponent form,
// without a fractional part for integral values; NaN, inf and -inf by name.
std::string format_plain_float(double value);

// The representation form of a float: the shortest decimal that reads back,
// with an exponent ("1e-6", "2.5e20") when the magnitude is below 1e-4 or at
// least 1e16, otherwise with at least one fractional digit ("1.0", "0.001").
std::string format_repr_float(double value);

// The longest caller text, in bytes, that a message echoes.
inline constexpr std::size_t longest_quoted_text = 200;

// A double-quoted literal with backslash escapes for quotes, backslashes and
// control characters, as caller-supplied names appear in messages and reprs.
// Text beyond longest_quoted_text bytes is cut and ends in "..." inside the
// quotes.
std::string quote_text(std::string_view text);

// ASCII lower-casing; other bytes are kept as they are.
std::string ascii_lowercase(std::string_view text);

}  // namespace tarnwell
