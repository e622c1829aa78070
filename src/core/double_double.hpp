// Double-double arithmetic: a value held as the unevaluated sum hi + lo of
// two doubles, about 106 significant bits. Prefix statistics kept this way
// give segment sums by subtraction without the cancellation a plain double
// suffers when the prefixes are far larger than the segment's own sum; the
// few operations below are what those costs need (error-free sums and
// products, from the classic TwoSum and fused multiply-add constructions).
#pragma once

#include <cmath>
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

}  // namespace double_double_detail

// The exact product of two doubles.
inline DoubleDouble exact_product(double a, double b) noexcept {
  const double p = a * b;
  return {p, std::fma(a, b, -p)};
}

// The exact difference of two doubles.
inline DoubleDouble exact_difference(double a, double b) noexcept { return double_double_detail::two_sum(a, -b); }

// An unsigned integer up to 2^106 as a double-double (exact).
inline DoubleDouble from_integer(unsigned __int128 value) noexcept {
  const double hi = static_cast<double>(value);
  const unsigned __int128 rounded = static_cast<unsigned __int128>(hi);
  const double lo = value >= rounded ? static_cast<double>(value - rounded) : -static_cast<double>(rounded - value);
  return double_double_detail::quick_two_sum(hi, lo);
}

inline DoubleDouble operator+(DoubleDouble a, DoubleDouble b) noexcept {
  const DoubleDouble s = double_double_detail::two_sum(a.hi, b.hi);
  const DoubleDouble t = double_double_detail::two_sum(a.lo, b.lo);
  const DoubleDouble u = double_double_detail::quick_two_sum(s.hi, s.lo + t.hi);
  return double_double_detail::quick_two_sum(u.hi, u.lo + t.lo);
}

inline DoubleDouble operator-(DoubleDouble a) noexcept { return {-a.hi, -a.lo}; }
inline DoubleDouble operator-(DoubleDouble a, DoubleDouble b) noexcept { return a + (-b); }

inline DoubleDouble operator*(DoubleDouble a, double b) noexcept {
  const DoubleDouble p = exact_product(a.hi, b);
  return double_double_detail::quick_two_sum(p.hi, p.lo + a.lo * b);
}

inline DoubleDouble operator*(DoubleDouble a, DoubleDouble b) noexcept {
  const DoubleDouble p = exact_product(a.hi, b.hi);
  return double_double_detail::quick_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble operator/(DoubleDouble a, double b) noexcept {
  const double q = a.hi / b;
  // The remainder a - q b, exact in its leading part through the fused multiply-add.
  const double remainder = std::fma(-q, b, a.hi) + a.lo;
  return double_double_detail::quick_two_sum(q, remainder / b);
}

// Running sum of doubles or double-doubles, exact to about 2^-104 of the
// summed magnitudes.
struct DoubleDoubleSum {
  DoubleDouble sum;

  void add(DoubleDouble value) noexcept { sum = sum + value; }
};

}  // namespace tarnwell
