// KernelGramState: the fitted kernel cost of the full and streaming backends,
// searched by the shared Pelt and Dynp engines through SegmentCost.
//
// c(s, e) = sum_{i in [s,e)} K(i, i) - (1 / (e - s)) sum_{i, j in [s,e)} K(i, j)
//
// Full keeps a two-dimensional prefix table of the Gram matrix, so every cost
// is O(1) for (n + 1)^2 doubles of memory. Streaming keeps the prepared rows
// and computes the double sums for one end at a time by folding rows (O(n)
// memory); its endpoint state is a cache behind a mutex, rebuilt from row 0
// when an earlier end than the cached one is asked for.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "cost/endpoint_batch.hpp"
#include "kernel/kernel_spec.hpp"
#include "kernel/prepared_rows.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

// Within-segment sums for one end: within[s] = sum K(i, j), i, j in [s, folded).
struct StreamingEndpointState {
  std::vector<double> within;
  std::uint64_t folded = 0;
};

class KernelGramState {
 public:
  // Both backends keep the prepared rows: streaming evaluates them, full
  // keeps them (n x width, small beside its (n + 1)^2 table) so that its
  // saved form can rebuild the table instead of carrying it.
  static Result<std::shared_ptr<const KernelGramState>> build_full(PreparedRows rows, KernelFamily family,
                                                                  double gamma, std::uint64_t max_gram_bytes);
  static Result<std::shared_ptr<const KernelGramState>> build_streaming(PreparedRows rows, KernelFamily family,
                                                                       double gamma);

  std::uint64_t n_samples() const noexcept { return n_; }
  std::uint64_t min_segment_length() const noexcept { return 1; }
  // Pruning constant 0: splitting a segment never raises the total. A
  // segment's cost is the within-segment scatter of its samples' images in
  // the kernel's feature space, sum_t |phi_t - mean|^2; the mean minimises
  // that sum, so each part measured from its own mean costs at most what it
  // costs measured from the whole's.
  std::optional<double> pelt_pruning_constant() const noexcept { return 0.0; }

  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const;
  // Streaming: uses the shared endpoint state under its mutex.
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;
  // Streaming: the same costs from an endpoint state owned by the caller, so
  // that concurrent predictions never invalidate each other's sums.
  Status endpoint_costs_with(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out,
                             StreamingEndpointState& endpoint) const;

  // The cost of [start, end) from a fold of its rows into caller-owned
  // scratch: half the kernel evaluations of segment_cost, and bit for bit the
  // value an endpoint batch gives for the same segment.
  Result<double> folded_segment_cost(std::uint64_t start, std::uint64_t end, std::vector<double>& scratch) const;
  // The cost of the whole signal as one segment, folded once on first use and
  // kept (the searches take their tie scale from it).
  Result<double> whole_signal_cost() const;

  bool is_full() const noexcept { return backend_ == KernelBackend::full; }
  KernelBackend backend() const noexcept { return backend_; }
  std::uint64_t width() const noexcept { return width_; }
  std::span<const double> rows() const noexcept { return rows_; }
  KernelFamily family() const noexcept { return family_; }
  std::optional<double> gamma() const noexcept {
    return family_ == KernelFamily::rbf ? std::optional<double>(gamma_) : std::nullopt;
  }
  // The mean K(i, i) over the rows, the scale of every sum a cost is made of
  // (the searches' tie rule takes its absolute part from it).
  double value_scale() const noexcept {
    return n_ == 0 ? 0.0 : diagonal_[static_cast<std::size_t>(n_)] / static_cast<double>(n_);
  }
  // (n + 1)^2 for the full backend, 0 for streaming.
  std::uint64_t stored_gram_entries() const noexcept;

  KernelGramState(KernelBackend backend, KernelFamily family, std::uint64_t n, std::uint64_t width, double gamma)
      : backend_(backend), family_(family), n_(n), width_(width), gamma_(gamma) {}

 private:
  Status check_batch(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const;
  double full_cost(std::uint64_t start, std::uint64_t end) const noexcept;
  void fold_to(StreamingEndpointState& endpoint, std::uint64_t end) const;
  Status streaming_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out,
                         StreamingEndpointState& endpoint) const;

  KernelBackend backend_;
  KernelFamily family_;
  std::uint64_t n_;
  std::uint64_t width_;
  double gamma_;
  std::vector<double> diagonal_;  // D[i] = sum_{a < i} K(a, a), n + 1 entries
  std::vector<double> prefix_;    // full: S[i][j] = sum_{a < i, b < j} K(a, b), (n + 1)^2 row-major
  std::vector<double> rows_;      // streaming: the prepared rows
  mutable std::mutex endpoint_mutex_;
  mutable StreamingEndpointState shared_endpoint_;
  mutable std::once_flag whole_signal_once_;
  mutable std::optional<Result<double>> whole_signal_cost_;
};

// Round-off can leave the cost of a near-constant segment a hair below zero;
// that is clamped to 0. Anything else is returned as is for the search to judge.
inline double clamp_kernel_cost(double cost) noexcept { return cost < 0.0 && cost > -1e-10 ? 0.0 : cost; }

}  // namespace tarnwell
