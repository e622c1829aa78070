#include "core/saved_state.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/fallible_allocation.hpp"
#include "core/signal.hpp"
#include "core/strided_matrix.hpp"

namespace tarnwell {
namespace {

constexpr char magic[8] = {'T', 'W', 'S', 'T', 'A', 'T', 'E', '\0'};
// Written in the writer's byte order; read back differently on a machine of
// the other order.
constexpr std::uint64_t byte_order_mark = 0x0102030405060708ULL;
constexpr std::uint64_t checksum_size = sizeof(std::uint64_t);

// A fast 64-bit mix over 8-byte words (multiply-rotate, as in the common
// non-cryptographic hashes): it detects damage, not tampering.
std::uint64_t checksum(std::span<const std::byte> bytes) noexcept {
  constexpr std::uint64_t prime_1 = 0x9E3779B185EBCA87ULL;
  constexpr std::uint64_t prime_2 = 0xC2B2AE3D27D4EB4FULL;
  std::uint64_t hash = prime_2 ^ bytes.size();
  std::size_t offset = 0;
  for (; offset + 8 <= bytes.size(); offset += 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes.data() + offset, 8);
    hash = std::rotl(hash ^ (word * prime_2), 31) * prime_1;
  }
  for (; offset < bytes.size(); ++offset) {
    hash = std::rotl(hash ^ (static_cast<std::uint64_t>(bytes[offset]) * prime_1), 11) * prime_2;
  }
  hash ^= hash >> 33;
  hash *= prime_2;
  hash ^= hash >> 29;
  return hash;
}

}  // namespace

StateWriter::StateWriter(std::byte* buffer, std::string_view class_name) : buffer_(buffer) {
  put_bytes(magic, sizeof magic);
  put(saved_state_format_version);
  put(byte_order_mark);
  put(class_name);
}

void StateWriter::put_bytes(const void* data, std::uint64_t count) noexcept {
  if (buffer_ != nullptr && count != 0) std::memcpy(buffer_ + size_, data, static_cast<std::size_t>(count));
  size_ += count;
}

void StateWriter::put(std::uint64_t value) noexcept { put_bytes(&value, sizeof value); }
void StateWriter::put(double value) noexcept { put_bytes(&value, sizeof value); }
void StateWriter::put(std::string_view text) noexcept {
  put(static_cast<std::uint64_t>(text.size()));
  put_bytes(text.data(), text.size());
}
void StateWriter::put(std::span<const double> values) noexcept {
  put(static_cast<std::uint64_t>(values.size()));
  put_bytes(values.data(), values.size() * sizeof(double));
}

void StateWriter::finish() noexcept {
  std::uint64_t sum = 0;
  if (buffer_ != nullptr) sum = checksum(std::span<const std::byte>(buffer_, static_cast<std::size_t>(size_)));
  put(sum);
}

Result<StateReader> StateReader::open(std::span<const std::byte> bytes, std::string_view class_name) {
  StateReader reader(bytes, std::string(class_name));
  if (bytes.size() < sizeof magic + 3 * sizeof(std::uint64_t) + checksum_size ||
      std::memcmp(bytes.data(), magic, sizeof magic) != 0) {
    return errors::fail(reader.invalid("not a saved tarnwell state"));
  }
  // Everything, the header included, is read from the bytes the checksum
  // covers, never from the checksum itself.
  const std::span<const std::byte> covered = bytes.first(bytes.size() - checksum_size);
  reader.fields_ = covered;
  reader.position_ = sizeof magic;
  std::uint64_t version = 0;
  std::uint64_t order = 0;
  TARNWELL_CHECK(reader.get(version));
  TARNWELL_CHECK(reader.get(order));
  if (order != byte_order_mark) return errors::fail(reader.invalid("saved on a machine of another byte order"));
  if (version != saved_state_format_version) {
    return errors::fail(reader.invalid("format version " + std::to_string(version) + " is not supported (expected " +
                                       std::to_string(saved_state_format_version) + ")"));
  }
  std::uint64_t stored = 0;
  std::memcpy(&stored, bytes.data() + covered.size(), sizeof stored);
  if (stored != checksum(covered)) return errors::fail(reader.invalid("checksum mismatch, the data is damaged"));
  std::string saved_for;
  TARNWELL_CHECK(reader.get(saved_for));
  if (saved_for != class_name) {
    const bool printable = saved_for.size() <= 64 && std::all_of(saved_for.begin(), saved_for.end(), [](char c) {
                             return c >= 0x20 && c < 0x7f;
                           });
    return errors::fail(reader.invalid(printable ? "it was saved from " + saved_for : "it was saved from another class"));
  }
  return reader;
}

Status StateReader::take(void* out, std::uint64_t count, std::string_view what) {
  if (position_ > fields_.size() || count > fields_.size() - position_) {
    return errors::fail(invalid(std::string("truncated while reading ") + std::string(what)));
  }
  if (count != 0) std::memcpy(out, fields_.data() + position_, static_cast<std::size_t>(count));
  position_ += count;
  return {};
}

Status StateReader::get(std::uint64_t& value) { return take(&value, sizeof value, "an integer"); }

Status StateReader::get(double& value) {
  TARNWELL_CHECK(take(&value, sizeof value, "a number"));
  if (!is_finite_value(value)) return errors::fail(invalid("a saved number is not finite"));
  return {};
}

Status StateReader::get(std::string& text) {
  std::uint64_t length = 0;
  TARNWELL_CHECK(get(length));
  if (length > fields_.size() - position_) return errors::fail(invalid("truncated while reading a name"));
  text.assign(reinterpret_cast<const char*>(fields_.data() + position_), static_cast<std::size_t>(length));
  position_ += length;
  return {};
}

Status StateReader::get_count(std::uint64_t& value, std::string_view name) {
  TARNWELL_CHECK(get(value));
  if (value == 0) return errors::fail(invalid(std::string(name) + " is 0"));
  return {};
}

// Exactly `expected` finite values into a vector of either allocator.
template <class Values>
Status StateReader::get_values(Values& values, std::uint64_t expected, std::string_view name) {
  std::uint64_t length = 0;
  TARNWELL_CHECK(get(length));
  if (length != expected) {
    return errors::fail(invalid(std::string(name) + " holds " + std::to_string(length) + " values, expected " +
                                std::to_string(expected)));
  }
  if (length > (fields_.size() - position_) / sizeof(double)) {
    return errors::fail(invalid(std::string("truncated while reading ") + std::string(name)));
  }
  TARNWELL_CHECK(try_allocate("restoring a saved state", [&] { values.resize(static_cast<std::size_t>(length)); }));
  TARNWELL_CHECK(take(values.data(), length * sizeof(double), name));
  for (const double value : values) {
    if (!is_finite_value(value)) return errors::fail(invalid(std::string(name) + " holds a non-finite value"));
  }
  return {};
}

Status StateReader::get(std::vector<double>& values, std::uint64_t expected, std::string_view name) {
  return get_values(values, expected, name);
}

Status StateReader::get(LargeTable<double>& values, std::uint64_t expected, std::string_view name) {
  return get_values(values, expected, name);
}

Status StateReader::finish() const {
  if (position_ != fields_.size()) return errors::fail(invalid("unexpected bytes after the last field"));
  return {};
}

Result<std::uint64_t> StateReader::product(std::uint64_t left, std::uint64_t right) const {
  const std::optional<std::uint64_t> value = checked_product(left, right);
  if (!value || *value == UINT64_MAX) return errors::fail(invalid("a saved size overflows"));
  return *value;
}

Result<std::uint64_t> StateReader::prefix_table_size(std::uint64_t rows, std::uint64_t columns) const {
  if (rows == UINT64_MAX) return errors::fail(invalid("a saved size overflows"));
  return product(rows + 1, columns);
}

Status StateReader::check_array_size(std::uint64_t rows, std::uint64_t columns) const {
  const std::optional<std::uint64_t> values = checked_product(rows, columns);
  constexpr std::uint64_t largest_array = static_cast<std::uint64_t>(PTRDIFF_MAX) / sizeof(double);
  if (!values || *values > largest_array) return errors::fail(invalid("the saved signal sizes exceed any array"));
  return {};
}

ErrorKind StateReader::invalid(std::string_view detail) const {
  return errors::value_error_text("invalid saved state of " + class_name_ + ": " + std::string(detail));
}

void save_signal(StateWriter& out, std::uint64_t n_samples, std::uint64_t n_features, std::span<const double> values) {
  out.put(n_samples);
  out.put(n_features);
  out.put(values);
}

Result<Signal> restore_signal(StateReader& in) {
  std::uint64_t n = 0;
  std::uint64_t d = 0;
  TARNWELL_CHECK(in.get_count(n, "the sample count"));
  TARNWELL_CHECK(in.get_count(d, "the feature count"));
  TARNWELL_TRY(size, in.product(n, d));
  std::vector<double> values;
  TARNWELL_CHECK(in.get(values, size, "the signal"));
  return Signal::create(std::move(values), n, d);
}

}  // namespace tarnwell
