// The built-in cost family before fitting: a kind plus its parameters.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "python/error/error_kind.hpp"

namespace tarnwell {

// The order is the tag order of CostModel and FittedCost.
enum class CostKind : std::uint8_t { l2, l1, rank, normal, linear, ar, clinear, mahalanobis };

inline constexpr double default_normal_ridge = 1.0e-6;
inline constexpr std::uint64_t default_ar_order = 4;

struct MetricMatrix {
  std::uint64_t rows = 0;
  std::uint64_t columns = 0;
  std::vector<double> values;  // row-major
};

struct CostModel {
  CostKind kind = CostKind::l2;
  double ridge = default_normal_ridge;
  std::uint64_t order = default_ar_order;
  std::optional<MetricMatrix> metric;  // absent: the identity of the signal's dimension

  // The shortest segment the kind gives a cost to; depends on the parameters only.
  std::uint64_t min_segment_length() const noexcept;
};

// Case-insensitive for ASCII letters; "ml" is an alias of "mahalanobis".
Result<CostModel> parse_model(std::string_view name);

std::string_view cost_kind_name(CostKind kind) noexcept;

}  // namespace tarnwell
