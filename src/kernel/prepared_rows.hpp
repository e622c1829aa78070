// The rows a kernel is evaluated on, derived once from the fitted signal:
// linear rows are centred on row 0 (so costs ignore a constant offset and the
// inner products stay small), cosine rows are scaled to unit length with an
// extra coordinate for all-zero rows, rbf rows are a plain copy.
#pragma once

#include <cstdint>
#include <vector>

#include "core/signal.hpp"
#include "kernel/kernel_spec.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

struct PreparedRows {
  std::vector<double> values;  // n x width, row-major
  std::uint64_t n = 0;
  std::uint64_t width = 0;
};

Result<PreparedRows> prepare_rows(const Signal& signal, KernelFamily family);

}  // namespace tarnwell
