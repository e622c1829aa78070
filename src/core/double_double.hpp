// Error-free transformations and a double-double accumulator. A sum of
// non-negative terms accumulated this way is accurate to about 2^-104 of the
// total, so its leading part is the correctly rounded sum unless the exact
// sum lies within that distance of a midpoint between doubles; costs that two
// different algorithms compute (sorting a segment, or an index) then agree
// to the last bit. Needs the exact IEEE operations: no contraction into
// fused multiply-adds (the build sets -ffp-contract=off).
#pragma once

namespace tarnwell {

struct TwoTerms {
  double high;
  double low;
};

// a + b = high + low exactly, high = fl(a + b) (no overflow).
inline TwoTerms two_sum(double a, double b) noexcept {
  const double sum = a + b;
  const double b_part = sum - a;
  const double low = (a - (sum - b_part)) + (b - b_part);
  return {sum, low};
}

// The same when |a| >= |b| (or a == 0).
inline TwoTerms fast_two_sum(double a, double b) noexcept {
  const double sum = a + b;
  return {sum, b - (sum - a)};
}

// a * b = high + low exactly (Dekker), for |a|, |b| below 2^996 and no underflow.
inline TwoTerms two_product(double a, double b) noexcept {
  constexpr double splitter = 134217729.0;  // 2^27 + 1
  const double product = a * b;
  const double a_scaled = splitter * a;
  const double a_high = a_scaled - (a_scaled - a);
  const double a_low = a - a_high;
  const double b_scaled = splitter * b;
  const double b_high = b_scaled - (b_scaled - b);
  const double b_low = b - b_high;
  const double low = ((a_high * b_high - product) + a_high * b_low + a_low * b_high) + a_low * b_low;
  return {product, low};
}

// high is always fl(high + low): the correctly rounded value of the pair.
struct DoubleDouble {
  double high = 0.0;
  double low = 0.0;

  void add(double value_high, double value_low) noexcept {
    const TwoTerms sum = two_sum(high, value_high);
    const TwoTerms normalised = fast_two_sum(sum.high, sum.low + (low + value_low));
    high = normalised.high;
    low = normalised.low;
  }
};

}  // namespace tarnwell
