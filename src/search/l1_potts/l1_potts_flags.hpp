// The parent flags of one prediction: one byte per (sample, level), mapped
// straight from the kernel. Large maps ask for transparent huge pages, which
// cuts the page faults of first touch by a factor of 512; the flags are
// written row by row exactly once, so fresh pages are all they need.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/error/error_kind.hpp"

namespace tarnwell {

class ParentFlags {
 public:
  // A refused map is reported as an allocation failure in `context`.
  static Result<ParentFlags> allocate(std::size_t bytes, std::string_view context);

  ParentFlags(ParentFlags&& other) noexcept : data_(other.data_), bytes_(other.bytes_) { other.data_ = nullptr; }
  ParentFlags& operator=(ParentFlags&&) = delete;
  ParentFlags(const ParentFlags&) = delete;
  ~ParentFlags();

  std::uint8_t* row(std::uint64_t sample, std::size_t levels) const noexcept { return data_ + sample * levels; }

  // Asks the kernel to back bytes [begin, end) with pages now, in one call,
  // rather than by a fault per page when they are first written: faults are
  // dear in virtual machines. Advice only; on refusal the faults happen.
  void prefault(std::size_t begin, std::size_t end) const noexcept;

 private:
  ParentFlags(std::uint8_t* data, std::size_t bytes) noexcept : data_(data), bytes_(bytes) {}

  std::uint8_t* data_;
  std::size_t bytes_;
};

}  // namespace tarnwell
