// The endpoint cost batch most kinds share: one segment_cost per start, in the
// given order, into the caller's reused buffer.
#pragma once

#include <span>

#include "cost/endpoint_batch.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

inline Status prepare_endpoint_batch(EndpointBatch& out, std::size_t count) {
  if (!out.prepare(count)) return errors::fail(errors::allocation_failed("allocating an endpoint cost batch"));
  return {};
}

template <class Cost>
Status generic_endpoint_costs(const Cost& cost, std::span<const std::uint64_t> starts, std::uint64_t end,
                              EndpointBatch& out) {
  TARNWELL_CHECK(prepare_endpoint_batch(out, starts.size()));
  for (const std::uint64_t start : starts) {
    TARNWELL_TRY(value, cost.segment_cost(start, end));
    out.push(value);
  }
  return {};
}

}  // namespace tarnwell
