// The storage of one swept start list: every column in one 32-byte aligned
// block of memory, each beginning with the sentinel block and rounded up to
// whole blocks of four entries. A list starts small and doubles when a step
// needs more room, so a well-pruned search keeps its starts in a few cache
// lines.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "search/pelt/l2_pruning/l2_interval_sweep.hpp"

namespace tarnwell {

class L2SweepList {
 public:
  using Column = L2SweepColumn;
  using Cursor = L2SweepCursor;
  using Stop = L2SweepStop;
  // Starts per block: the sweep packs the list once this many are dropped.
  static constexpr std::size_t block = l2_sweep_block;

  // Throws std::bad_alloc when the memory cannot be had.
  explicit L2SweepList(std::size_t capacity = 60) { allocate(capacity, 0); }
  L2SweepList(const L2SweepList&) = delete;
  L2SweepList& operator=(const L2SweepList&) = delete;

  const L2SweepColumns& columns() const noexcept { return columns_; }
  std::size_t capacity() const noexcept { return capacity_; }

  double& at(Column which, std::size_t entry) noexcept { return columns_[which][entry]; }
  double at(Column which, std::size_t entry) const noexcept { return columns_[which][entry]; }

  // Room for at least `entries` entries, keeping the first `size`; throws
  // std::bad_alloc when more memory cannot be had (the list is then
  // unchanged).
  void reserve(std::size_t entries, std::size_t size) {
    if (entries <= capacity_) return;
    allocate(std::max(entries, 2 * capacity_), size);
  }

 private:
  static constexpr std::align_val_t alignment{32};

  struct AlignedDelete {
    void operator()(double* memory) const noexcept { ::operator delete[](memory, alignment); }
  };

  void allocate(std::size_t capacity, std::size_t size) {
    // Whole blocks, the sentinel block first and one spare block after.
    const std::size_t blocks = (capacity + block - 1) / block;
    const std::size_t stride = (blocks + 2) * block;
    const std::size_t total = stride * l2_sweep_column_count;
    std::unique_ptr<double[], AlignedDelete> storage(new (alignment) double[total]);
    // Zeroed, so that a pass reading past the last entry reads defined values.
    std::fill_n(storage.get(), total, 0.0);
    L2SweepColumns columns{};
    for (std::size_t column = 0; column < l2_sweep_column_count; ++column) {
      columns.column[column] = storage.get() + column * stride + block;
      if (storage_) std::copy_n(columns_.column[column], size, columns.column[column]);
    }
    columns[Column::position][-1] = std::numeric_limits<double>::infinity();
    storage_ = std::move(storage);
    columns_ = columns;
    capacity_ = blocks * block;
  }

  std::unique_ptr<double[], AlignedDelete> storage_;
  L2SweepColumns columns_{};
  std::size_t capacity_ = 0;
};

}  // namespace tarnwell
