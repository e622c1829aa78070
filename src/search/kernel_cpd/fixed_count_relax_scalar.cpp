#include "search/kernel_cpd/fixed_count_relax_body.hpp"

namespace tarnwell {

UnsettledCost relax_end_scalar(const FixedCountTables& tables, const FixedCountEnd& end, std::uint64_t from,
                               const double* settled) {
  return relax_end_with(tables, end, from, settled,
                        [](const double* row_s, double* row_t, std::uint64_t* pred_t, double* tolerance,
                           std::uint64_t count, double cost, std::uint64_t start, double floor) {
                          relax_columns_scalar(row_s, row_t, pred_t, tolerance, 1, count, cost, start, floor);
                        });
}

bool cpu_has_avx2() noexcept {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

}  // namespace tarnwell
