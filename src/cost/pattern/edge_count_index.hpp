// Counts, among the edges of a neighbour graph on window positions, those
// that lie wholly inside a range of positions: edges (lo, hi), lo <= hi,
// with lo >= a and hi < b. The edges are kept in order of lo, their hi
// values in a wavelet matrix (one bit plane per bit of a position, each with
// a rank directory), which answers one range in O(log n) time from
// (edges x bits) bits of storage.
#pragma once

#include <cstdint>
#include <vector>

#include "core/error/error_kind.hpp"

namespace tarnwell {

class EdgeCountIndex {
 public:
  EdgeCountIndex() = default;
  // `lo[e] <= hi[e] < positions` for every edge.
  static Result<EdgeCountIndex> build(const std::vector<std::uint64_t>& lo, const std::vector<std::uint64_t>& hi,
                                      std::uint64_t positions);

  // Edges with a <= lo and hi < b (a <= b <= positions).
  std::uint64_t count_within(std::uint64_t a, std::uint64_t b) const noexcept;

 private:
  struct BitPlane {
    std::vector<std::uint64_t> words;
    std::vector<std::uint64_t> ones_before;  // ones in the words before each word
    std::uint64_t zeros = 0;
    std::uint64_t zeros_before(std::uint64_t position) const noexcept;
  };
  std::vector<std::uint64_t> first_edge_;  // first edge (in lo order) with lo >= position
  std::vector<BitPlane> planes_;           // most significant bit first
  std::uint64_t edges_ = 0;
};

}  // namespace tarnwell
