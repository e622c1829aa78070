#include "cost/pattern/subsequence_neighbours.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "cost/pattern/similarity_block.hpp"

namespace tarnwell {
namespace {

constexpr std::string_view allocating = "allocating a subsequence neighbour search";

// A window whose standard deviation is below this share of the feature's
// is flat: its shape is noise in the last digits, not a pattern.
constexpr double flat_share = 1e-8;

// Dot products run along the diagonals, each row from the previous one; an
// exact row every so often keeps the rounding of the running sums from
// building up over long signals.
std::uint64_t exact_row_spacing(std::uint64_t width) { return std::max<std::uint64_t>(1024, 8 * width); }

// Columns compared per block: small enough to stay in the first-level cache.
constexpr std::uint64_t block = 256;

struct WindowShapes {
  std::vector<double> standardized;  // feature-major, n per feature
  std::vector<double> scaled_mean;   // width * window mean, m per feature
  std::vector<double> inverse_norm;  // 1 / |window - mean|, 0 for flat windows
  std::vector<double> flat;          // 1 for flat windows, else 0
};

Result<WindowShapes> window_shapes(const Signal& signal, std::uint64_t width) {
  const std::uint64_t n = signal.n_samples(), d = signal.n_features(), m = n - width + 1;
  const std::span<const double> x = signal.values();
  WindowShapes shapes;
  TARNWELL_CHECK(try_allocate(allocating, [&] {
    shapes.standardized.resize(n * d);
    shapes.scaled_mean.resize(m * d);
    shapes.inverse_norm.resize(m * d);
    shapes.flat.resize(m * d);
  }));
  const double w = static_cast<double>(width);
  for (std::uint64_t f = 0; f < d; ++f) {
    // Standardised first, so that the running dot products below do not lose
    // digits to a large offset and flatness is relative to the feature's spread.
    double mean = 0.0;
    for (std::uint64_t t = 0; t < n; ++t) mean += x[t * d + f];
    mean /= static_cast<double>(n);
    double square_sum = 0.0;
    for (std::uint64_t t = 0; t < n; ++t) square_sum += (x[t * d + f] - mean) * (x[t * d + f] - mean);
    const double spread = std::sqrt(square_sum / static_cast<double>(n));
    const double scale = spread > 0.0 ? 1.0 / spread : 1.0;
    double* z = &shapes.standardized[f * n];
    for (std::uint64_t t = 0; t < n; ++t) z[t] = (x[t * d + f] - mean) * scale;
    const double flat_square_sum = w * (spread > 0.0 ? flat_share * flat_share : 0.0);
    for (std::uint64_t i = 0; i < m; ++i) {
      double sum = 0.0;
      for (std::uint64_t t = 0; t < width; ++t) sum += z[i + t];
      const double window_mean = sum / w;
      double centred = 0.0;
      for (std::uint64_t t = 0; t < width; ++t) centred += (z[i + t] - window_mean) * (z[i + t] - window_mean);
      const bool is_flat = centred <= flat_square_sum;
      shapes.scaled_mean[f * m + i] = w * window_mean;
      shapes.inverse_norm[f * m + i] = is_flat ? 0.0 : 1.0 / std::sqrt(centred);
      shapes.flat[f * m + i] = is_flat ? 1.0 : 0.0;
    }
  }
  return shapes;
}

// The `neighbours` best of one window, most alike first, with the similarity
// a newcomer must beat.
class NeighbourLists {
 public:
  NeighbourLists(std::uint64_t* index, double* similarity, double* threshold, std::uint64_t k)
      : index_(index), similarity_(similarity), threshold_(threshold), k_(k) {}

  // Strictly better only: candidates arrive in increasing index order, so an
  // equal similarity keeps the smaller index.
  void offer(std::uint64_t row, std::uint64_t candidate, double value) const {
    std::uint64_t* index = index_ + row * k_;
    double* similarity = similarity_ + row * k_;
    std::uint64_t slot = k_ - 1;
    while (slot > 0 && similarity[slot - 1] < value) {
      similarity[slot] = similarity[slot - 1];
      index[slot] = index[slot - 1];
      --slot;
    }
    similarity[slot] = value;
    index[slot] = candidate;
    threshold_[row] = similarity[k_ - 1];
  }

 private:
  std::uint64_t* index_;
  double* similarity_;
  double* threshold_;
  std::uint64_t k_;
};

}  // namespace

Result<SubsequenceNeighbours> nearest_subsequences(const Signal& signal, std::uint64_t width,
                                                   std::uint64_t neighbours) {
  const std::uint64_t n = signal.n_samples(), d = signal.n_features();
  if (width == 0 || width > n || neighbours == 0) return errors::fail(errors::numerical_failure(allocating));
  const std::uint64_t m = n - width + 1, k = neighbours;
  SubsequenceNeighbours result{m, k, {}};
  if (m > std::numeric_limits<std::uint64_t>::max() / (k * (d + 4) + 8)) {
    return errors::fail(errors::allocation_failed(allocating));
  }
  TARNWELL_TRY(shapes, window_shapes(signal, width));
  const double minus_infinity = -std::numeric_limits<double>::infinity();
  std::vector<double> similarity, threshold, previous, current, row_similarity;
  TARNWELL_CHECK(try_allocate(allocating, [&] {
    result.index.assign(m * k, m);
    similarity.assign(m * k, minus_infinity);
    threshold.assign(m, minus_infinity);
    previous.resize(m * d);
    current.resize(m * d);
    row_similarity.resize(block);
  }));
  const NeighbourLists lists(result.index.data(), similarity.data(), threshold.data(), k);
  const SimilarityBlock similarity_block = fastest_similarity_block();
  SimilarityRow row{shapes.standardized.data(), shapes.scaled_mean.data(), shapes.inverse_norm.data(),
                    shapes.flat.data(), threshold.data(), current.data(), previous.data(), n, m, d, width, 0, false,
                    1.0 / static_cast<double>(d)};
  const std::uint64_t spacing = exact_row_spacing(width);
  const std::uint64_t exclusion = width;
  for (std::uint64_t i = 0; i + exclusion < m; ++i) {
    TARNWELL_CHECK(check_interruption());
    row.i = i;
    row.exact = i % spacing == 0;
    row.dot = current.data();
    row.dot_before = previous.data();
    double row_threshold = threshold[i];
    for (std::uint64_t from = i + exclusion; from < m; from += block) {
      const std::uint64_t to = std::min(m, from + block);
      // Most blocks improve no list: the lists are visited only where one does.
      if (!similarity_block(row, from, to, row_threshold, row_similarity.data())) continue;
      for (std::uint64_t j = from; j < to; ++j) {
        const double value = row_similarity[j - from];
        if (value > threshold[j]) lists.offer(j, i, value);
        if (value > row_threshold) {
          lists.offer(i, j, value);
          row_threshold = threshold[i];
        }
      }
    }
    std::swap(previous, current);
  }
  return result;
}

}  // namespace tarnwell
