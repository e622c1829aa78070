// The L1-Potts rows written for AVX2, four levels per instruction: one pass
// computes a row, its parent flags and its minimum; a second finds the
// arg-min. Same IEEE operations per level as the portable rows, so the same
// results.
#pragma once

#include <cstdint>

#include "search/l1_potts/l1_potts_programme.hpp"

namespace tarnwell {

// True when this build has the AVX2 rows and the processor runs them.
bool l1_potts_avx2_rows_available() noexcept;

// The contract of run_l1_potts_rows, for a problem whose values provably stay
// finite (problem.values_stay_finite): it checks none of them.
void run_l1_potts_rows_avx2(const L1PottsProblem& problem, std::uint64_t first, std::uint64_t last, double*& prev,
                            double*& cur, std::uint8_t* flags, std::uint32_t* best) noexcept;

}  // namespace tarnwell
