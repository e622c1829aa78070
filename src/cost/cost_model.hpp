// The built-in cost family before fitting: one of the descriptors of the cost
// list, holding its parameters. A search stores the model parsed from its
// `model` argument and fits a fresh FittedCost from it at every fit.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <type_traits>
#include <variant>

#include "cost/cost_list.hpp"
#include "core/error/error_kind.hpp"

namespace tarnwell {

template <class List>
struct CostListVariants;
template <class... Models>
struct CostListVariants<CostList<Models...>> {
  using Model = std::variant<Models...>;
  using Fitted = std::variant<typename Models::Fitted...>;
};

class CostModel {
 public:
  using Variant = CostListVariants<BuiltinCostModels>::Model;

  // The first model of the list with its defaults.
  CostModel() = default;
  template <class Model>
    requires std::is_constructible_v<Variant, Model>
  CostModel(Model model) : model_(std::move(model)) {}

  // Calls visitor(descriptor) for the held model; every model must be handled.
  template <class Visitor>
  decltype(auto) visit(Visitor&& visitor) const {
    return std::visit(std::forward<Visitor>(visitor), model_);
  }

  // The shortest segment the model gives a cost to; depends on the parameters only.
  std::uint64_t min_segment_length() const noexcept {
    return visit([](const auto& model) -> std::uint64_t { return model.min_segment_length(); });
  }
  // Whether fitting is a long search of its own (cost_descriptor.hpp, long_fit).
  bool long_fit() const noexcept {
    return visit([](const auto& model) { return requires { std::remove_cvref_t<decltype(model)>::long_fit; }; });
  }

 private:
  Variant model_;
};

// Case-insensitive for ASCII letters; a model may answer to several names
// ("ml" is an alias of "mahalanobis"). Unknown names list the supported ones.
Result<CostModel> parse_model(std::string_view name);

}  // namespace tarnwell
