// The kernel a KernelCPD measures segments with, and how its fitted state is
// held. Fixed at construction; the bandwidth of a median policy is resolved
// from the signal at fit time.
#pragma once

#include <cstdint>

namespace tarnwell {

enum class KernelKind : std::uint8_t {
  rbf_fixed = 0,           // rbf with the caller's gamma
  rbf_exact_median = 1,    // rbf, gamma from the median over all pairs
  rbf_sampled_median = 2,  // rbf, gamma from the median over sampled pairs
  linear = 3,
  cosine = 5,
};

struct KernelSpec {
  KernelKind kind = KernelKind::rbf_exact_median;
  double gamma = 1.0;               // rbf_fixed only
  std::uint64_t gamma_samples = 0;  // rbf_sampled_median only
  std::uint64_t seed = 0;           // rbf_sampled_median only

  bool is_rbf() const noexcept {
    return kind == KernelKind::rbf_fixed || kind == KernelKind::rbf_exact_median ||
           kind == KernelKind::rbf_sampled_median;
  }
};

enum class KernelBackend : std::uint8_t { full = 0, streaming = 1, fused = 2 };

// Linear and cosine are both plain inner products of prepared rows; they
// differ only in how the rows are prepared.
enum class KernelFamily : std::uint8_t { linear, rbf, cosine };

inline KernelFamily family_of(const KernelSpec& kernel_choice) noexcept {
  if (kernel_choice.kind == KernelKind::linear) return KernelFamily::linear;
  if (kernel_choice.kind == KernelKind::cosine) return KernelFamily::cosine;
  return KernelFamily::rbf;
}

}  // namespace tarnwell
