#include "search/kernel_cpd/kernel_gram_searches.hpp"

#include "search/dynp/dynp_engine.hpp"
#include "search/pelt/pelt_engine.hpp"

namespace tarnwell {
namespace {

// One prediction's view of a Gram state. A streaming state's shared endpoint
// cache holds the sums of one end only; two predictions interleaving on it
// would each rebuild it from row 0 at nearly every batch. The view keeps the
// prediction's own endpoint state instead (O(n) memory, the same costs).
// Single segments (the engines' tie scale, the final recount) come from a
// fold as well: half the kernel evaluations of the double sum, the same
// values as the batches, and the whole signal's cost is kept in the state.
class PredictionGramView {
 public:
  explicit PredictionGramView(const KernelGramState& state) : state_(state) {}

  std::uint64_t n_samples() const noexcept { return state_.n_samples(); }
  std::uint64_t min_segment_length() const noexcept { return state_.min_segment_length(); }
  std::optional<double> pelt_pruning_constant() const noexcept { return state_.pelt_pruning_constant(); }
  double value_scale() const noexcept { return state_.value_scale(); }
  Result<double> segment_cost(std::uint64_t start, std::uint64_t end) const {
    if (start == 0 && end == state_.n_samples()) return state_.whole_signal_cost();
    return state_.folded_segment_cost(start, end, scratch_);
  }
  Status endpoint_costs(std::span<const std::uint64_t> starts, std::uint64_t end, EndpointBatch& out) const {
    return state_.endpoint_costs_with(starts, end, out, endpoint_);
  }

 private:
  const KernelGramState& state_;
  mutable StreamingEndpointState endpoint_;
  mutable std::vector<double> scratch_;
};

static_assert(SegmentCost<KernelGramState>);
static_assert(SegmentCost<PredictionGramView>);

}  // namespace

Result<Segmentation> search_gram_fixed_count(const KernelGramState& state, SearchParameters parameters,
                                             std::uint64_t n_bkps) {
  if (state.is_full()) return run_dynp(state, parameters, n_bkps, kernel_dynp_memory_limit);
  return run_dynp(PredictionGramView(state), parameters, n_bkps, kernel_dynp_memory_limit);
}

Result<Segmentation> search_gram_penalized(const KernelGramState& state, SearchParameters parameters, double pen) {
  if (state.is_full()) return run_pelt(state, parameters, pen);
  return run_pelt(PredictionGramView(state), parameters, pen);
}

}  // namespace tarnwell
