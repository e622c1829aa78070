#include "core/vector_paths.hpp"

#include <atomic>

namespace tarnwell {
namespace {

// Relaxed: the switch and the counts order nothing else; a search reads the
// switch once when it chooses its form.
std::atomic<bool> forced{false};
std::array<std::atomic<std::uint64_t>, vector_path_names.size()> vectorised_runs{};
std::array<std::atomic<std::uint64_t>, vector_path_names.size()> portable_runs{};

}  // namespace

bool portable_paths_forced() noexcept { return forced.load(std::memory_order_relaxed); }

void force_portable_paths(bool value) noexcept { forced.store(value, std::memory_order_relaxed); }

void record_vector_path(VectorPath path, bool vectorised) noexcept {
  auto& counts = vectorised ? vectorised_runs : portable_runs;
  counts[static_cast<std::size_t>(path)].fetch_add(1, std::memory_order_relaxed);
}

VectorPathCounts vector_path_counts(VectorPath path) noexcept {
  const auto index = static_cast<std::size_t>(path);
  return {vectorised_runs[index].load(std::memory_order_relaxed), portable_runs[index].load(std::memory_order_relaxed)};
}

}  // namespace tarnwell
