// The start candidates a pruned Pelt run still considers, as parallel arrays
// in increasing grid order: the positions form the contiguous start list of
// the endpoint batch, and each candidate carries its (final) optimal value,
// its expiry and whatever the cost's functional pruning keeps about it
// (`Extra`, an empty type without one), so the hot loops read no scattered
// tables.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

namespace tarnwell::pelt_detail {

struct NoExtra {};

template <class Extra = NoExtra>
class ActiveSet {
 public:
  static constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();
  static constexpr bool has_extra = !std::is_same_v<Extra, NoExtra>;

  void reserve(std::size_t capacity) {
    index.reserve(capacity);
    position.reserve(capacity);
    best.reserve(capacity);
    expiry.reserve(capacity);
    if constexpr (has_extra) extra.reserve(capacity);
  }

  void append(std::uint64_t grid_index, std::uint64_t grid_position, double value, const Extra& state = {}) {
    index.push_back(grid_index);
    position.push_back(grid_position);
    best.push_back(value);
    expiry.push_back(never);
    if constexpr (has_extra) extra.push_back(state);
  }

  std::size_t size() const noexcept { return index.size(); }

  // A candidate stays while the end position is below its expiry. The pass is
  // skipped while no expiry has been reached, which is most steps.
  void drop_expired(std::uint64_t end) {
    if (end < earliest_expiry_) return;
    std::size_t kept = 0;
    std::uint64_t earliest = never;
    for (std::size_t i = 0; i < index.size(); ++i) {
      if (expiry[i] <= end) continue;
      index[kept] = index[i];
      position[kept] = position[i];
      best[kept] = best[i];
      expiry[kept] = expiry[i];
      if constexpr (has_extra) extra[kept] = extra[i];
      earliest = expiry[i] < earliest ? expiry[i] : earliest;
      ++kept;
    }
    index.resize(kept);
    position.resize(kept);
    best.resize(kept);
    expiry.resize(kept);
    if constexpr (has_extra) extra.resize(kept);
    earliest_expiry_ = earliest;
  }

  // After a caller's own in-place compaction: keeps the first `kept`
  // entries, whose earliest expiry the caller passes.
  void truncate(std::size_t kept, std::uint64_t earliest_expiry) {
    index.resize(kept);
    position.resize(kept);
    best.resize(kept);
    expiry.resize(kept);
    if constexpr (has_extra) extra.resize(kept);
    earliest_expiry_ = earliest_expiry;
  }

  void note_expiry(std::uint64_t value) noexcept {
    if (value < earliest_expiry_) earliest_expiry_ = value;
  }

  std::vector<std::uint64_t> index;     // grid index of the start
  std::vector<std::uint64_t> position;  // its sample position
  std::vector<double> best;             // optimal value of [0, position)
  std::vector<std::uint64_t> expiry;    // first end position at which it is dropped
  std::vector<Extra> extra;             // the functional pruning's state, if any

 private:
  std::uint64_t earliest_expiry_ = never;
};

}  // namespace tarnwell::pelt_detail
