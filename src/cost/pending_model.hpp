// A model name the factory already accepts but whose cost this build does not
// provide yet: it parses and raises min_size like the real model, and fitting
// it fails with NotImplementedError. Each is replaced by its real descriptor.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/signal.hpp"
#include "cost/endpoint_batch.hpp"
#include "python/error/error_kind.hpp"

namespace tarnwell {

template <std::size_t Length>
struct FixedName {
  char text[Length]{};
  constexpr FixedName(const char (&name)[Length]) { std::copy_n(name, Length, text); }
  constexpr std::string_view view() const { return {text, Length - 1}; }
};

// Never constructed: fitting a pending model fails first.
template <FixedName Name>
class PendingCost {
 public:
  PendingCost() = delete;
  std::uint64_t n_samples() const noexcept { return 0; }
  std::uint64_t n_features() const noexcept { return 0; }
  std::uint64_t min_segment_length() const noexcept { return 1; }
  std::optional<double> pelt_pruning_constant() const noexcept { return std::nullopt; }
  Result<double> segment_cost(std::uint64_t, std::uint64_t) const { return unavailable(); }
  Status endpoint_costs(std::span<const std::uint64_t>, std::uint64_t, EndpointBatch&) const {
    return unavailable();
  }
  static std::unexpected<ErrorKind> unavailable() {
    return errors::fail(errors::not_implemented_text("the \"" + std::string(Name.view()) +
                                                     "\" cost model is not available in this build yet"));
  }
};

template <std::uint64_t MinLength, FixedName Name, FixedName... Aliases>
struct PendingModel {
  using Fitted = PendingCost<Name>;
  static constexpr std::array<std::string_view, 1 + sizeof...(Aliases)> model_names{Name.view(), Aliases.view()...};

  std::uint64_t min_segment_length() const noexcept { return MinLength; }
  Result<Fitted> fit(const Signal&) const { return Fitted::unavailable(); }
};

}  // namespace tarnwell
