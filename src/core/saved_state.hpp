// The saved form of a fitted object, the payload pickling carries: a header
// (magic, format version, byte order, the class it belongs to), the object's
// fields in a fixed order, and a checksum of everything before it.
//
// Writing runs twice over the same code: once with no buffer to measure, once
// into a buffer of exactly that size, so a large fitted state is never copied
// twice. Reading checks every length against the bytes that remain before it
// allocates, so a damaged or hand-made state fails with a message instead of
// reading out of bounds or allocating absurd amounts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/large_table.hpp"
#include "core/signal.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

// Raised when the layout of any saved field changes; older payloads are refused.
inline constexpr std::uint64_t saved_state_format_version = 1;

class StateWriter {
 public:
  // Measures when `buffer` is null; otherwise writes into it (it must hold
  // the measured size).
  StateWriter(std::byte* buffer, std::string_view class_name);

  void put(std::uint64_t value) noexcept;
  void put(double value) noexcept;
  void put(std::string_view text) noexcept;
  // The length, then the values.
  void put(std::span<const double> values) noexcept;
  // Appends the checksum; the payload is complete afterwards.
  void finish() noexcept;

  std::uint64_t size() const noexcept { return size_; }

 private:
  void put_bytes(const void* data, std::uint64_t count) noexcept;

  std::byte* buffer_;
  std::uint64_t size_ = 0;
};

class StateReader {
 public:
  // Checks the header (magic, version, byte order, class) and the checksum.
  static Result<StateReader> open(std::span<const std::byte> bytes, std::string_view class_name);

  Status get(std::uint64_t& value);
  // Finite values only: every saved statistic of a fitted object is finite.
  Status get(double& value);
  Status get(std::string& text);
  // A count of at least 1 (sample, feature, row counts), named in the error.
  Status get_count(std::uint64_t& value, std::string_view name);
  // Exactly `expected` finite values.
  Status get(std::vector<double>& values, std::uint64_t expected, std::string_view name);
  Status get(LargeTable<double>& values, std::uint64_t expected, std::string_view name);
  // Fails unless every field was read.
  Status finish() const;
  // Whether every field has been read (a saved form that an older version
  // ended earlier).
  bool at_end() const noexcept { return position_ == fields_.size(); }

  // left * right, or an invalid-state error when it overflows.
  Result<std::uint64_t> product(std::uint64_t left, std::uint64_t right) const;
  // (rows + 1) * columns, the size of a prefix table over `rows` samples
  // (row 0 zeros), or an invalid-state error when either step overflows.
  Result<std::uint64_t> prefix_table_size(std::uint64_t rows, std::uint64_t columns) const;
  // Checks that rows * columns doubles could be one array in memory, for
  // sizes that describe data not stored in the payload (a custom cost's
  // fitted signal): a larger claim cannot come from a real fit.
  Status check_array_size(std::uint64_t rows, std::uint64_t columns) const;
  // "invalid saved state of {class}: {detail}", a ValueError.
  ErrorKind invalid(std::string_view detail) const;

 private:
  StateReader(std::span<const std::byte> fields, std::string class_name)
      : fields_(fields), class_name_(std::move(class_name)) {}
  Status take(void* out, std::uint64_t count, std::string_view what);
  template <class Values>
  Status get_values(Values& values, std::uint64_t expected, std::string_view name);

  std::span<const std::byte> fields_;  // between the header and the checksum
  std::uint64_t position_ = 0;
  std::string class_name_;
};

// A signal: its sample and feature counts, then its values row-major.
void save_signal(StateWriter& out, std::uint64_t n_samples, std::uint64_t n_features, std::span<const double> values);
Result<Signal> restore_signal(StateReader& in);

}  // namespace tarnwell
