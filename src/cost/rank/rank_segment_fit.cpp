#include "cost/rank/centred_ranks.hpp"
#include "cost/rank/rank_model.hpp"

namespace tarnwell {

Status RankModel::fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints,
                               std::span<double> out) const {
  TARNWELL_TRY(ranks, centred_average_ranks(signal));
  const std::uint64_t d = signal.n_features();
  const auto fit = [&](std::uint64_t start, std::uint64_t end, std::span<double> row) -> Status {
    segment_means(ranks.data(), d, start, end, row);
    return Status{};
  };
  return for_each_segment(breakpoints, d, out, fit);
}

}  // namespace tarnwell
