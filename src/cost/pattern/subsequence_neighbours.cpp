#include "cost/pattern/subsequence_neighbours.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "cost/pattern/feature_moments.hpp"
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
// A multiple of the rows computed together, so that an exact row opens a group.
std::uint64_t exact_row_spacing(std::uint64_t width) { return std::max<std::uint64_t>(1024, 8 * width) / 4 * 4; }

// Columns compared per block: small enough to stay in the first-level cache.
constexpr std::uint64_t block = 128;

// Rows computed together over each block (fewer than the smallest width).
constexpr std::uint64_t rows_together = 4;

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
    const auto [mean, spread] = feature_moments(signal, f);
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
  // Bytes per window: k slots of an index and a similarity, d dot products
  // per kept row, a threshold; a neighbour count near 2^64 must not wrap.
  const std::optional<std::uint64_t> per_window = checked_product(k, d + 4);
  if (!per_window || *per_window > std::numeric_limits<std::uint64_t>::max() - 8 ||
      !checked_product(m, *per_window + 8)) {
    return errors::fail(errors::allocation_failed(allocating));
  }
  TARNWELL_TRY(shapes, window_shapes(signal, width));
  const double minus_infinity = -std::numeric_limits<double>::infinity();
  std::vector<double> similarity, threshold, dots, row_similarity;
  TARNWELL_CHECK(try_allocate(allocating, [&] {
    result.index.assign(m * k, m);
    similarity.assign(m * k, minus_infinity);
    threshold.assign(m, minus_infinity);
    dots.resize((rows_together + 1) * m * d);
    row_similarity.resize(block);
  }));
  const NeighbourLists lists(result.index.data(), similarity.data(), threshold.data(), k);
  const SimilarityBlock similarity_block = fastest_similarity_block();
  SimilarityRow row{shapes.standardized.data(), shapes.scaled_mean.data(), shapes.inverse_norm.data(),
                    shapes.flat.data(), threshold.data(), nullptr, nullptr, n, m, d, width, 0, false,
                    1.0 / static_cast<double>(d)};
  // Dot products of row i live in slot i % (rows_together + 1): a group's
  // rows and the row before it.
  auto dot_row = [&](std::uint64_t i) { return dots.data() + (i % (rows_together + 1)) * m * d; };
  const std::uint64_t spacing = exact_row_spacing(width);
  const std::uint64_t exclusion = width;
  const std::uint64_t rows = m > exclusion ? m - exclusion : 0;  // rows with a column to compare
  // Rows go in groups over one block of columns at a time, so the block's
  // columns are read from memory once per group rather than once per row.
  // Every column of a group lies after all its rows (exclusion >= width >
  // rows_together), so each list still receives its candidates in increasing
  // index order.
  for (std::uint64_t group = 0; group < rows; group += rows_together) {
    TARNWELL_CHECK(check_interruption());
    const std::uint64_t group_end = std::min(rows, group + rows_together);
    for (std::uint64_t from = group + exclusion; from < m; from += block) {
      const std::uint64_t to = std::min(m, from + block);
      for (std::uint64_t i = group; i < group_end; ++i) {
        const std::uint64_t first = std::max(from, i + exclusion);
        if (first >= to) continue;
        row.i = i;
        row.exact = i % spacing == 0;
        row.dot = dot_row(i);
        row.dot_before = i > 0 ? dot_row(i - 1) : nullptr;
        // Most blocks improve no list: the lists are visited only where one does.
        if (!similarity_block(row, first, to, threshold[i], row_similarity.data())) continue;
        for (std::uint64_t j = first; j < to; ++j) {
          const double value = row_similarity[j - first];
          if (value > threshold[j]) lists.offer(j, i, value);
          if (value > threshold[i]) lists.offer(i, j, value);
        }
      }
    }
  }
  return result;
}

}  // namespace tarnwell
