// The exact median of the squared distances over all n (n - 1) / 2 pairs of
// rows, without storing them all: at n = 20 000 they would take 1.6 GB.
// Squared distances are non-negative doubles, whose bit patterns order like
// their values, so the element of a given rank can be found by radix
// selection: count the pairs per value of the next 16 bits of the pattern,
// keep the bucket that holds the rank, and once a bucket is small enough,
// collect it and select within it. Each round recomputes the distances.
#pragma once

#include <cstdint>

#include "core/signal.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

struct PairMedianLimits {
  std::uint64_t store_all = std::uint64_t{1} << 22;  // at most this many pairs: keep them all
  std::uint64_t collect = std::uint64_t{1} << 22;    // a bucket this small is collected
};

// The median of the rule of the bandwidth: the element of rank floor(m / 2)
// in ascending order, averaged with the one below it when m is even. Needs
// at least two rows.
Result<double> exact_pair_median(const Signal& signal, PairMedianLimits limits = {});

}  // namespace tarnwell
