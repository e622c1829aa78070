// The start candidates a pruned Pelt run still considers, as parallel arrays
// in increasing grid order: the positions form the contiguous start list of
// the endpoint batch, and each candidate carries its (final) optimal value,
// its expiry and the columns of whatever the cost's functional pruning keeps
// about it (some doubles, none without one), so the hot loops read
// contiguous memory and vectorise.
//
// Every column is allocated once for the most candidates a run can hold (one
// per grid entry) and never grows, so appending costs a few stores. The
// memory is left uninitialised: only the pages the list actually reaches
// become resident, a few for a well-pruned run.
#pragma once

#include <span>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tarnwell::pelt_detail {

// The column count of an active set whose pruner gives it only at run time.
inline constexpr std::size_t runtime_state_columns = std::numeric_limits<std::size_t>::max();

// `StaticColumns` is the number of state columns when known at compile time,
// so that moving and appending entries unrolls.
template <std::size_t StaticColumns = runtime_state_columns>
class ActiveSet {
 public:
  static constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();

  // Throws std::bad_alloc when the columns cannot be had. The optimal values
  // and the state columns have one more entry before the first, the
  // `sentinel` (0 and `sentinel_state`, zeros by default), so that a pass
  // comparing each entry with the one before needs no special first case.
  ActiveSet(std::size_t capacity, std::size_t state_columns, std::span<const double> sentinel_state = {})
      : index_(std::make_unique_for_overwrite<std::uint64_t[]>(capacity)),
        position_(std::make_unique_for_overwrite<std::uint64_t[]>(capacity)),
        best_(std::make_unique_for_overwrite<double[]>(capacity + 1)),
        expiry_(std::make_unique_for_overwrite<std::uint64_t[]>(capacity)),
        scratch_(std::make_unique_for_overwrite<double[]>(capacity)) {
    for (std::size_t column = 0; column < state_columns; ++column) {
      state_.push_back(std::make_unique_for_overwrite<double[]>(capacity + 1));
      state_.back()[0] = column < sentinel_state.size() ? sentinel_state[column] : 0.0;
      state.push_back(state_.back().get() + 1);
    }
    if (StaticColumns != runtime_state_columns && state.size() != StaticColumns) throw std::logic_error("state columns");
    best_[0] = 0.0;
    index = index_.get();
    position = position_.get();
    best = best_.get() + 1;
    expiry = expiry_.get();
    scratch = scratch_.get();
  }
  ActiveSet(const ActiveSet&) = delete;
  ActiveSet& operator=(const ActiveSet&) = delete;

  std::size_t columns() const noexcept {
    if constexpr (StaticColumns != runtime_state_columns) {
      return StaticColumns;
    } else {
      return state.size();
    }
  }
  std::span<double* const> state_columns() const noexcept { return state; }

  // At most one candidate per grid entry: the capacity is never exceeded.
  // `values` holds one value per state column.
  void append(std::uint64_t grid_index, std::uint64_t grid_position, double value, const double* values) noexcept {
    index[size_] = grid_index;
    position[size_] = grid_position;
    best[size_] = value;
    expiry[size_] = never;
    double* const* columns_at = state.data();
    for (std::size_t column = 0; column < columns(); ++column) columns_at[column][size_] = values[column];
    ++size_;
  }

  std::size_t size() const noexcept { return size_; }

  // A candidate stays while the end position is below its expiry. The pass is
  // skipped while no expiry has been reached, which is most steps.
  void drop_expired(std::uint64_t end) noexcept {
    if (end < earliest_expiry_) return;
    compact([&](std::size_t i) { return expiry[i] > end; });
  }

  // Keeps, in order, the entries i for which `keep(i)` holds (called once per
  // entry, in order, before any entry after it moves).
  template <class Keep>
  void compact(Keep&& keep) noexcept {
    std::size_t kept = 0;
    std::uint64_t earliest = never;
    for (std::size_t i = 0; i < size_; ++i) {
      if (!keep(i)) continue;
      // Nothing moves until the first entry leaves.
      if (kept != i) move_entry(i, kept);
      earliest = expiry[kept] < earliest ? expiry[kept] : earliest;
      ++kept;
    }
    truncate(kept, earliest);
  }

  // Copies entry `from` onto entry `to` (to < from), for in-place compaction.
  void move_entry(std::size_t from, std::size_t to) noexcept {
    index[to] = index[from];
    position[to] = position[from];
    best[to] = best[from];
    expiry[to] = expiry[from];
    double* const* columns_at = state.data();
    for (std::size_t column = 0; column < columns(); ++column) columns_at[column][to] = columns_at[column][from];
  }

  // After an in-place compaction: keeps the first `kept` entries, whose
  // earliest expiry the caller passes.
  void truncate(std::size_t kept, std::uint64_t earliest_expiry) noexcept {
    size_ = kept;
    earliest_expiry_ = earliest_expiry;
  }

  void note_expiry(std::uint64_t value) noexcept {
    if (value < earliest_expiry_) earliest_expiry_ = value;
  }

  std::uint64_t* index = nullptr;     // grid index of the start
  std::uint64_t* position = nullptr;  // its sample position
  double* best = nullptr;             // optimal value of [0, position)
  std::uint64_t* expiry = nullptr;    // first end position at which it is dropped
  double* scratch = nullptr;          // one value per candidate for the current step's passes
  std::vector<double*> state;         // the functional pruning's columns

 private:
  std::unique_ptr<std::uint64_t[]> index_;
  std::unique_ptr<std::uint64_t[]> position_;
  std::unique_ptr<double[]> best_;
  std::unique_ptr<std::uint64_t[]> expiry_;
  std::unique_ptr<double[]> scratch_;
  std::vector<std::unique_ptr<double[]>> state_;
  std::size_t size_ = 0;
  std::uint64_t earliest_expiry_ = never;
};

}  // namespace tarnwell::pelt_detail
