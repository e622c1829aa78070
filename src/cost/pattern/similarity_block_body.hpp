// Body of the similarity block, included by the portable unit and, under an
// AVX2 target, by the AVX2 unit: the loops are simple enough for the
// compiler to vectorise either way.
static inline void similarity_values(const tarnwell::SimilarityRow& row, std::uint64_t from, std::uint64_t to,
                                     double* out) {
  const std::uint64_t n = row.n, m = row.m, width = row.width, i = row.i, count = to - from;
  if (row.d == 1 && !row.exact) {
    // One feature: the dot products and the correlations in one pass (the
    // same operations as below, without the sum over features).
    const double* z = row.standardized;
    const double leaving = z[i - 1], entering = z[i + width - 1];
    const double* before = row.dot_before + from - 1;
    const double* left = z + from - 1;
    const double* right = z + from + width - 1;
    double* now = row.dot + from;
    const double* scaled_mean = row.scaled_mean + from;
    const double* inverse_norm = row.inverse_norm + from;
    const double* flat = row.flat + from;
    const double mean_i = row.scaled_mean[i] / static_cast<double>(width);
    const double inverse_i = row.inverse_norm[i], flat_i = row.flat[i];
    for (std::uint64_t c = 0; c < count; ++c) {
      const double dot = (before[c] - leaving * left[c]) + entering * right[c];
      now[c] = dot;
      out[c] = (dot - mean_i * scaled_mean[c]) * inverse_i * inverse_norm[c] + flat_i * flat[c];
    }
    return;
  }
  for (std::uint64_t c = 0; c < count; ++c) out[c] = 0.0;
  for (std::uint64_t f = 0; f < row.d; ++f) {
    const double* z = row.standardized + f * n;
    double* dot = row.dot + f * m;
    const double* dot_before = row.dot_before + f * m;
    if (row.exact) {
      for (std::uint64_t j = from; j < to; ++j) {
        double sum = 0.0;
        for (std::uint64_t t = 0; t < width; ++t) sum += z[i + t] * z[j + t];
        dot[j] = sum;
      }
    } else {
      const double leaving = z[i - 1], entering = z[i + width - 1];
      const double* before = dot_before + from - 1;
      const double* left = z + from - 1;
      const double* right = z + from + width - 1;
      double* now = dot + from;
      for (std::uint64_t c = 0; c < count; ++c) now[c] = (before[c] - leaving * left[c]) + entering * right[c];
    }
    const double* scaled_mean = row.scaled_mean + f * m + from;
    const double* inverse_norm = row.inverse_norm + f * m + from;
    const double* flat = row.flat + f * m + from;
    const double* now = dot + from;
    const double mean_i = row.scaled_mean[f * m + i] / static_cast<double>(width);
    const double inverse_i = row.inverse_norm[f * m + i], flat_i = row.flat[f * m + i];
    for (std::uint64_t c = 0; c < count; ++c) {
      out[c] += (now[c] - mean_i * scaled_mean[c]) * inverse_i * inverse_norm[c] + flat_i * flat[c];
    }
  }
  const double share = row.feature_share;
  for (std::uint64_t c = 0; c < count; ++c) out[c] *= share;
}
