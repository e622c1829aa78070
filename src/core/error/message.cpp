#include "core/error/message.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace tarnwell {

std::string format_plain_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Fixed notation without a precision is the shortest round-trip form; the
  // largest finite double needs 309 digits before the point.
  char buffer[400];
  const auto [end, status] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (status != std::errc{}) return "NaN";
  return std::string(buffer, end);
}

std::string format_repr_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char buffer[400];
  // The shortest round-trip digits in scientific form give the decimal exponent.
  const auto [scientific_end, scientific_status] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  if (scientific_status != std::errc{}) return "NaN";
  const std::string scientific(buffer, scientific_end);
  const std::size_t marker = scientific.find('e');
  const int exponent = std::stoi(scientific.substr(marker + 1));
  if (value != 0.0 && (exponent < -4 || exponent >= 16)) {
    return scientific.substr(0, marker) + "e" + std::to_string(exponent);
  }
  std::string fixed = format_plain_float(value);
  if (fixed.find('.') == std::string::npos) fixed += ".0";
  return fixed;
}

std::string quote_text(std::string_view text) {
  // Caller text is echoed only so far, so that a message stays readable
  // whatever was passed; the cut backs off to the start of a UTF-8 sequence
  // so that no character is split.
  std::string_view shown = text;
  if (shown.size() > longest_quoted_text) {
    std::size_t end = longest_quoted_text;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    shown = text.substr(0, end);
  }
  std::string quoted;
  quoted.reserve(shown.size() + 5);
  quoted.push_back('"');
  for (const char character : shown) {
    const auto byte = static_cast<unsigned char>(character);
    switch (character) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      case '\0': quoted += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char escape[16];
          std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
          quoted += escape;
        } else {
          quoted.push_back(character);
        }
    }
  }
  if (shown.size() < text.size()) quoted += "...";
  quoted.push_back('"');
  return quoted;
}

std::string ascii_lowercase(std::string_view text) {
  std::string lowered(text);
  for (char& character : lowered) {
    if (character >= 'A' && character <= 'Z') character = static_cast<char>(character - 'A' + 'a');
  }
  return lowered;
}

}  // namespace tarnwell
