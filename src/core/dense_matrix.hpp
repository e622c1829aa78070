// A caller-supplied matrix kept as given: its values in row-major order with
// its row and column counts (a model parameter such as a metric).
#pragma once

#include <cstdint>
#include <vector>

namespace tarnwell {

struct DenseMatrix {
  std::vector<double> values;  // rows * columns values, row-major
  std::uint64_t rows = 0;
  std::uint64_t columns = 0;
};

}  // namespace tarnwell
