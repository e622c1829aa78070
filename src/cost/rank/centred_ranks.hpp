// The rank transform of the rank model: every feature replaced by its
// average ranks over the whole signal (ties share the mean of their ranks),
// centred on (n + 1) / 2.
#pragma once

#include <vector>

#include "core/error/error_kind.hpp"
#include "core/signal.hpp"

namespace tarnwell {

// n x d, row-major like the signal.
Result<std::vector<double>> centred_average_ranks(const Signal& signal);

}  // namespace tarnwell
