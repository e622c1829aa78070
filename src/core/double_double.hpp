// Double-double arithmetic: a value held as the unevaluated sum hi + lo of
// two doubles, about 106 significant bits. Prefix statistics kept this way
// give segment sums by subtraction without the cancellation a plain double
// suffers when the prefixes are far larger than the segment's own sum; the
// few operations below are what those costs need (error-free sums and
// products, from the classic TwoSum and Dekker constructions).
#pragma once

#include <cstdint>

namespace tarnwell {

struct DoubleDouble {
  double hi = 0.0;
  double lo = 0.0;

  double value() const noexcept { return hi + lo; }
};

namespace double_double_detail {

// s + e == a + b exactly.
inline DoubleDouble two_sum(double a, double b) noexcept {
  const double s = a + b;
  const double b_part = s - a;
  const double e = (a - (s - b_part)) + (b - b_part);
  return {s, e};
}

// As two_sum, for |a| >= |b| (or a == 0).
inline DoubleDouble quick_two_sum(double a, double b) noexcept {
  const double s = a + b;
  return {s, b - (s - a)};
}

// The halves of a double's significand (Veltkamp's split): hi has at most
// 26 significant bits, hi + lo == a exactly (|a| below 2^996).
inline DoubleDouble split(double a) noexcept {
  const double scaled = 134217729.0 * a;  // 2^27 + 1
  const double hi = scaled - (scaled - a);
  return {hi, a - hi};
}

}  // namespace double_double_detail

// The exact product of two doubles (Dekker's construction: plain operations
// the compiler inlines, where a fused multiply-add without hardware support
// would be a library call).
inline DoubleDouble exact_product(double a, double b) noexcept {
  const double p = a * b;
  const DoubleDouble x = double_double_detail::split(a);
  const DoubleDouble y = double_double_detail::split(b);
  const double error = ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo;
  return {p, error};
}

// The same exact product with a fused multiply-add for the error term, for
// units compiled for it: both forms give the exact error, so they agree bit
// for bit. Anywhere else the call is a library routine (slow, still exact).
inline DoubleDouble fused_exact_product(double a, double b) noexcept {
  const double p = a * b;
  return {p, __builtin_fma(a, b, -p)};
}

// Which exact product the templated operations below use.
enum class ProductForm : bool { split, fused };

template <ProductForm form>
inline DoubleDouble exact_product_as(double a, double b) noexcept {
  if constexpr (form == ProductForm::fused) return fused_exact_product(a, b);
  else return exact_product(a, b);
}

// The exact difference of two doubles.
inline DoubleDouble exact_difference(double a, double b) noexcept { return double_double_detail::two_sum(a, -b); }

// An unsigned integer as a double-double (exact).
inline DoubleDouble from_integer(std::uint64_t value) noexcept {
  if (value < (std::uint64_t{1} << 62)) {
    // The same through the signed conversions, one instruction each where
    // the unsigned ones are a branchy sequence.
    const auto exact = static_cast<std::int64_t>(value);
    const double hi = static_cast<double>(exact);
    return double_double_detail::quick_two_sum(hi, static_cast<double>(exact - static_cast<std::int64_t>(hi)));
  }
  const double hi = static_cast<double>(value);
  // hi is within half a unit of its last place of value, so the difference
  // fits a signed 64-bit integer (and then a double) exactly.
  const auto difference = static_cast<std::int64_t>(value - static_cast<std::uint64_t>(hi));
  return double_double_detail::quick_two_sum(hi, static_cast<double>(difference));
}

// An unsigned integer up to 2^106 as a double-double (exact).
inline DoubleDouble from_integer(unsigned __int128 value) noexcept {
  const double hi = static_cast<double>(value);
  const unsigned __int128 rounded = static_cast<unsigned __int128>(hi);
  const double lo = value >= rounded ? static_cast<double>(value - rounded) : -static_cast<double>(rounded - value);
  return double_double_detail::quick_two_sum(hi, lo);
}

// Exact to about 2^-104 of |a| + |b| (not of the sum: the users bound their
// round-off by the magnitudes they combine, which keeps this short).
inline DoubleDouble operator+(DoubleDouble a, DoubleDouble b) noexcept {
  const DoubleDouble s = double_double_detail::two_sum(a.hi, b.hi);
  return double_double_detail::quick_two_sum(s.hi, s.lo + (a.lo + b.lo));
}

// Multiplication by a power of two, exact.
inline DoubleDouble scaled(DoubleDouble a, double power_of_two) noexcept {
  return {a.hi * power_of_two, a.lo * power_of_two};
}

inline DoubleDouble operator-(DoubleDouble a) noexcept { return {-a.hi, -a.lo}; }
inline DoubleDouble operator-(DoubleDouble a, DoubleDouble b) noexcept { return a + (-b); }

template <ProductForm form>
inline DoubleDouble multiply(DoubleDouble a, double b) noexcept {
  const DoubleDouble p = exact_product_as<form>(a.hi, b);
  return double_double_detail::quick_two_sum(p.hi, p.lo + a.lo * b);
}

template <ProductForm form>
inline DoubleDouble multiply(DoubleDouble a, DoubleDouble b) noexcept {
  const DoubleDouble p = exact_product_as<form>(a.hi, b.hi);
  return double_double_detail::quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble operator*(DoubleDouble a, double b) noexcept { return multiply<ProductForm::split>(a, b); }
inline DoubleDouble operator*(DoubleDouble a, DoubleDouble b) noexcept { return multiply<ProductForm::split>(a, b); }

inline DoubleDouble operator/(DoubleDouble a, double b) noexcept {
  const double q = a.hi / b;
  // The remainder a - q b, exact in its leading part.
  const DoubleDouble qb = exact_product(q, b);
  const double remainder = ((a.hi - qb.hi) - qb.lo) + a.lo;
  return double_double_detail::quick_two_sum(q, remainder / b);
}

// Running sum of doubles or double-doubles, exact to about 2^-104 of the
// summed magnitudes.
struct DoubleDoubleSum {
  DoubleDouble sum;

  void add(DoubleDouble value) noexcept { sum = sum + value; }
};

}  // namespace tarnwell
