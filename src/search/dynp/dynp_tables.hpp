// The score and predecessor tables of one Dynp prediction. Row r, column j
// holds the least cost of splitting [0, grid[j]) into exactly r grid-aligned
// segments and the grid index where the last of them starts. Rows are stored
// one after another (row r starts at r * G) so that one relaxation pass reads
// a contiguous prefix of the previous row alongside the endpoint batch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "python/error/error_kind.hpp"

namespace tarnwell {

// The two reusable buffers a tie-break rebuilds competing paths into; each
// path has at most K - 1 entries, so K slots never reallocate.
struct DynpTiePaths {
  std::vector<std::uint64_t> candidate;
  std::vector<std::uint64_t> incumbent;

  static Result<DynpTiePaths> allocate(std::size_t segment_count);
};

class DynpTables {
 public:
  // The predecessor table, then the score table; every score starts at
  // +infinity except row 0, column 0 (the empty prefix), which is 0.
  static Result<DynpTables> allocate(std::span<const std::uint64_t> grid, std::size_t segment_count);

  // Offers column j the costs batch[i] of [grid[i], grid[j]) for the
  // admissible starts i < batch.size(), in every row 1 .. min(j, K).
  Status relax_column(std::size_t column, std::span<const double> batch, DynpTiePaths& tie_paths);

  // The optimum for K segments over the whole signal.
  double final_score() const noexcept { return scores_[index(segment_count_, grid_.size() - 1)]; }

  // Breakpoints of the optimum in increasing order, ending with n.
  Result<std::vector<std::uint64_t>> backtrack() const;

 private:
  DynpTables(std::span<const std::uint64_t> grid, std::size_t segment_count, std::vector<std::uint32_t> predecessors,
             std::vector<double> scores)
      : grid_(grid),
        segment_count_(segment_count),
        predecessors_(std::move(predecessors)),
        scores_(std::move(scores)) {}

  std::size_t index(std::size_t row, std::size_t column) const noexcept { return row * grid_.size() + column; }

  // The segment ends of the sub-solution stored at (row, column), increasing.
  Status write_path(std::size_t row, std::size_t column, std::vector<std::uint64_t>& path) const;

  Result<bool> candidate_path_is_smaller(std::size_t row, std::size_t candidate, std::size_t incumbent,
                                         DynpTiePaths& tie_paths) const;

  std::span<const std::uint64_t> grid_;
  std::size_t segment_count_;
  std::vector<std::uint32_t> predecessors_;
  std::vector<double> scores_;
};

}  // namespace tarnwell
