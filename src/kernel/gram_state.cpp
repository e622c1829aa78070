#include "kernel/gram_state.hpp"


#include "core/fallible_allocation.hpp"
#include "core/interruption.hpp"
#include "kernel/gram_prefix_memory.hpp"
#include "kernel/kernel_dispatch.hpp"
#include "kernel/kernel_fold.hpp"

namespace tarnwell {
namespace {

// Gram values into S[i+1][j+1] (both triangles from one evaluation, so the
// table is exactly symmetric), then the two-dimensional prefix sums in place:
// row i becomes row i-1 plus the running sum along row i.
template <class Kernel>
Status fill_prefix_table(const Kernel& kernel, std::size_t n, double* prefix, double* diagonal) {
  const std::size_t side = n + 1;
  for (std::size_t i = 0; i < n; ++i) {
    TARNWELL_CHECK(check_interruption());
    for (std::size_t j = i; j < n; ++j) {
      const double value = kernel(i, j);
      prefix[(i + 1) * side + (j + 1)] = value;
      if (j != i) prefix[(j + 1) * side + (i + 1)] = value;
    }
    diagonal[i + 1] = diagonal[i] + prefix[(i + 1) * side + (i + 1)];
  }
  for (std::size_t i = 1; i <= n; ++i) {
    double running = 0.0;
    double* row = prefix + i * side;
    const double* above = row - side;
    for (std::size_t j = 0; j < n; ++j) {
      running = running + row[j + 1];
      row[j + 1] = above[j + 1] + running;
    }
  }
  return {};
}

}  // namespace

Result<std::shared_ptr<const KernelGramState>> KernelGramState::build_full(PreparedRows rows,
                                                                          KernelFamily family, double gamma,
                                                                          std::uint64_t max_gram_bytes) {
  const std::uint64_t n = rows.n;
  TARNWELL_TRY(bytes, gram_prefix_bytes(n, max_gram_bytes));
  (void)bytes;
  auto state = std::make_shared<KernelGramState>(KernelBackend::full, family, n, rows.width, gamma);
  const std::size_t side = static_cast<std::size_t>(n + 1);
  TARNWELL_CHECK(try_allocate("allocating the Gram prefix table", [&] {
    state->prefix_.assign(side * side, 0.0);
    state->diagonal_.assign(side, 0.0);
  }));
  TARNWELL_CHECK(with_kernel(family, rows.values.data(), static_cast<std::size_t>(rows.width), gamma,
                             [&](const auto& kernel) {
                               return fill_prefix_table(kernel, static_cast<std::size_t>(n), state->prefix_.data(),
                                                        state->diagonal_.data());
                             }));
  state->rows_ = std::move(rows.values);
  return std::shared_ptr<const KernelGramState>(std::move(state));
}

Result<std::shared_ptr<const KernelGramState>> KernelGramState::build_streaming(PreparedRows rows,
                                                                               KernelFamily family, double gamma) {
  const std::uint64_t n = rows.n;
  auto state = std::make_shared<KernelGramState>(KernelBackend::streaming, family, n, rows.width, gamma);
  TARNWELL_CHECK(try_allocate("allocating streaming kernel endpoint state",
                              [&] { state->diagonal_.assign(static_cast<std::size_t>(n + 1), 0.0); }));
  state->rows_ = std::move(rows.values);
  with_kernel(family, state->rows_.data(), static_cast<std::size_t>(rows.width), gamma, [&](const auto& kernel) {
    for (std::size_t i = 0; i < n; ++i) state->diagonal_[i + 1] = state->diagonal_[i] + kernel.diagonal(i);
  });
  return std::shared_ptr<const KernelGramState>(std::move(state));
}

std::uint64_t KernelGramState::stored_gram_entries() const noexcept {
  return is_full() ? (n_ + 1) * (n_ + 1) : 0;
}

double KernelGramState::full_cost(std::uint64_t start, std::uint64_t end) const noexcept {
  const std::size_t side = static_cast<std::size_t>(n_ + 1);
  const double* s_row = prefix_.data() + start * side;
  const double* e_row = prefix_.data() + end * side;
  const double block = ((e_row[end] - s_row[end]) - e_row[start]) + s_row[start];
  return clamp_kernel_cost((diagonal_[end] - diagonal_[start]) - block / static_cast<double>(end - start));
}

Result<double> KernelGramState::segment_cost(std::uint64_t start, std::uint64_t end) const {
  if (!(start < end && end <= n_)) return errors::fail(errors::invalid_segment(start, end, n_));
  if (is_full()) return full_cost(start, end);
  // One running total over the block, without touching the endpoint state.
  return with_kernel(family_, rows_.data(), static_cast<std::size_t>(width_), gamma_, [&](const auto& kernel) {
    double total = 0.0;
    for (std::uint64_t i = start; i < end; ++i) {
      for (std::uint64_t j = start; j < end; ++j) total += kernel(i, j);
    }
    return clamp_kernel_cost((diagonal_[end] - diagonal_[start]) - total / static_cast<double>(end - start));
  });
}

Result<double> KernelGramState::folded_segment_cost(std::uint64_t start, std::uint64_t end,
                                                    std::vector<double>& scratch) const {
  if (!(start < end && end <= n_)) return errors::fail(errors::invalid_segment(start, end, n_));
  if (is_full()) return full_cost(start, end);
  const std::size_t length = static_cast<std::size_t>(end - start);
  TARNWELL_CHECK(try_allocate("allocating streaming kernel endpoint state", [&] { scratch.assign(length, 0.0); }));
  // The rows of the segment, relabelled from 0: W[s - start] of the full fold.
  const double* rows = rows_.data() + start * width_;
  TARNWELL_CHECK(with_kernel(family_, rows, static_cast<std::size_t>(width_), gamma_, [&](const auto& kernel) -> Status {
    for (std::size_t row = 0; row < length; ++row) {
      TARNWELL_CHECK(check_interruption());
      fold_streaming_row(kernel, row, scratch.data());
    }
    return {};
  }));
  return clamp_kernel_cost((diagonal_[end] - diagonal_[start]) - scratch[0] / static_cast<double>(length));
}

Result<double> KernelGramState::whole_signal_cost() const {
  if (is_full()) return full_cost(0, n_);
  std::call_once(whole_signal_once_, [&] {
    std::vector<double> scratch;
    whole_signal_cost_.emplace(folded_segment_cost(0, n_, scratch));
  });
  return *whole_signal_cost_;
}

// Reserve first, then (for a non-empty batch) validate every start before any work.
Status KernelGramState::check_batch(std::span<const std::uint64_t> starts, std::uint64_t end,
                                    EndpointBatch& out) const {
  if (!out.prepare(starts.size())) {
    return errors::fail(errors::allocation_failed(is_full() ? "allocating a full-Gram endpoint cost batch"
                                                            : "allocating a streaming kernel endpoint cost batch"));
  }
  if (starts.empty()) return {};
  if (end > n_) return errors::fail(errors::invalid_segment(starts[0], end, n_));
  for (const std::uint64_t start : starts) {
    if (start >= end) return errors::fail(errors::invalid_segment(start, end, n_));
  }
  return {};
}

void KernelGramState::fold_to(StreamingEndpointState& endpoint, std::uint64_t end) const {
  with_kernel(family_, rows_.data(), static_cast<std::size_t>(width_), gamma_, [&](const auto& kernel) {
    for (std::uint64_t row = endpoint.folded; row < end; ++row) {
      fold_streaming_row(kernel, static_cast<std::size_t>(row), endpoint.within.data());
    }
  });
  endpoint.folded = end;
}

Status KernelGramState::streaming_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out,
                                        StreamingEndpointState& endpoint) const {
  if (endpoint.within.size() != n_) {
    TARNWELL_CHECK(try_allocate("allocating streaming kernel endpoint state",
                                [&] { endpoint.within.assign(static_cast<std::size_t>(n_), 0.0); }));
    endpoint.folded = 0;
  } else if (end < endpoint.folded) {
    std::fill(endpoint.within.begin(), endpoint.within.end(), 0.0);
    endpoint.folded = 0;
  }
  fold_to(endpoint, end);
  const double* within = endpoint.within.data();
  const double diagonal_end = diagonal_[end];
  double* costs = out.data();
  for (std::size_t i = 0; i < starts.size(); ++i) {
    const std::uint64_t start = starts[i];
    costs[i] = clamp_kernel_cost((diagonal_end - diagonal_[start]) - within[start] / static_cast<double>(end - start));
  }
  out.set_size(starts.size());
  return {};
}

Status KernelGramState::endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end,
                                       EndpointBatch& out) const {
  TARNWELL_CHECK(check_batch(starts, end, out));
  if (starts.empty()) return {};
  if (is_full()) {
    double* costs = out.data();
    for (std::size_t i = 0; i < starts.size(); ++i) costs[i] = full_cost(starts[i], end);
    out.set_size(starts.size());
    return {};
  }
  const std::lock_guard<std::mutex> lock(endpoint_mutex_);
  return streaming_costs(starts, end, out, shared_endpoint_);
}

Status KernelGramState::endpoint_costs_with(std::span<const std::uint64_t> starts, std::uint64_t end,
                                            EndpointBatch& out, StreamingEndpointState& endpoint) const {
  TARNWELL_CHECK(check_batch(starts, end, out));
  if (starts.empty() || is_full()) return endpoint_costs(starts, end, out);
  return streaming_costs(starts, end, out, endpoint);
}

}  // namespace tarnwell
