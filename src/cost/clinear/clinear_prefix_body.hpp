// The prefix form of the continuous piecewise-linear cost. Included once per
// instruction set (clinear_prefix_costs.cpp and clinear_prefix_costs_fma.cpp),
// each time into that unit's unnamed namespace; the two differ only in how an
// exact product's error term is formed, which is exact either way, so both
// give bit-identical results (nothing else is contracted: the build turns
// fused multiply-add contraction off).
// Include only after every other header of the unit.

namespace tarnwell {
namespace {

// With f_t = t - start + offset the line's abscissa, A the anchor's and Z
// the last sample's centred value, q the span and D = (Z - A) / q, a
// feature's residuals are c_t - A - f_t D, whose squares add up to
//   sum (c_t - A)^2 - 2 D sum f_t (c_t - A) + D^2 sum f_t^2,
// each sum a difference of prefix sums or a closed form in the length.
template <ProductForm form>
double prefix_cost(const CLinearTables& tables, std::uint64_t start, std::uint64_t end) noexcept {
  const std::uint64_t d = tables.n_features;
  const double* values = tables.values;
  const std::uint64_t length = end - start;
  const std::uint64_t anchor = start > 0 ? start - 1 : 0;
  const std::uint64_t offset = start > 0 ? 1 : 0;
  const double span = static_cast<double>(start > 0 ? length : length - 1);
  // Sums of f and f^2 over the segment, exact as integers: 64 bits hold
  // them up to lengths of 2^20, longer segments take 128.
  DoubleDouble abscissa_sum;
  DoubleDouble abscissa_squares;
  if (length < (std::uint64_t{1} << 20)) {
    const std::uint64_t pairs = length * (length - 1) / 2;
    abscissa_sum = from_integer(pairs + offset * length);
    abscissa_squares = from_integer(pairs * (2 * length - 1) / 3 + 2 * offset * pairs + offset * length);
  } else {
    const unsigned __int128 len = length;
    const unsigned __int128 pairs = len * (len - 1) / 2;
    abscissa_sum = from_integer(pairs + offset * len);
    abscissa_squares = from_integer(pairs * (2 * len - 1) / 3 + 2 * offset * pairs + offset * len);
  }
  const double shift = static_cast<double>(start - offset);  // f_t = t - shift
  const double count = static_cast<double>(length);
  double total = 0.0;
  for (std::uint64_t feature = 0; feature < d; ++feature) {
    const CLinearPrefixRow& low = tables.prefix[start * d + feature];
    const CLinearPrefixRow& high = tables.prefix[end * d + feature];
    const DoubleDouble sum = high.sum - low.sum;
    const DoubleDouble square = high.square - low.square;
    const DoubleDouble indexed = high.indexed - low.indexed;
    // The line through the anchor and the last sample, its two parameters
    // rounded to doubles as the direct arithmetic rounds them; the squares
    // of the residuals against exactly that line are then summed without
    // further loss. (A centred value rounded to a double is the plain
    // difference.)
    const double first = values[anchor * d + feature] - values[feature];
    const double slope = ((values[(end - 1) * d + feature] - values[feature]) - first) / span;
    const DoubleDouble weighted = indexed - multiply<form>(sum, shift) - multiply<form>(abscissa_sum, first);
    const DoubleDouble residuals =
        square - scaled(multiply<form>(sum, first), 2.0) + multiply<form>(exact_product_as<form>(first, first), count) -
        scaled(multiply<form>(weighted, slope), 2.0) +
        multiply<form>(exact_product_as<form>(slope, slope), abscissa_squares);
    const double value = residuals.value();
    // Every quantity above is exact to about 2^-100 of the largest magnitude
    // it was made from (the prefix sums accumulate one such rounding per
    // sample); the result is kept only where that stays far below its own
    // rounding, which it cannot do for a nearly perfect fit.
    const double a = std::fabs(first);
    const double b = std::fabs(slope);
    const double magnitude = std::fabs(high.square.hi) + std::fabs(low.square.hi) +
                             2.0 * a * (std::fabs(high.sum.hi) + std::fabs(low.sum.hi)) + count * a * a +
                             2.0 * b * (std::fabs(high.indexed.hi) + std::fabs(low.indexed.hi) +
                                        shift * (std::fabs(high.sum.hi) + std::fabs(low.sum.hi)) +
                                        a * abscissa_sum.hi) +
                             b * b * abscissa_squares.hi;
    const double error = (static_cast<double>(end) + 64.0) * 0x1p-100 * magnitude;
    if (!(value > 0.0) || !(error <= 0x1p-52 * value) || !(magnitude <= std::numeric_limits<double>::max())) {
      return declined_cost;
    }
    total += value;
  }
  return total;
}

template <ProductForm form>
void prefix_costs(const CLinearTables& tables, std::span<const std::uint64_t> starts, std::uint64_t end,
                  double* out) noexcept {
  for (std::size_t i = 0; i < starts.size(); ++i) out[i] = prefix_cost<form>(tables, starts[i], end);
}

}  // namespace
}  // namespace tarnwell
