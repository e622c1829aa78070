#include "cost/fitted_cost.hpp"

#include "cost/fit_from_view.hpp"

namespace tarnwell {

Result<FittedCost> FittedCost::fit(const CostModel& model, const StridedMatrix& view) {
  return model.visit([&](const auto& descriptor) -> Result<FittedCost> {
    TARNWELL_TRY(fitted, fit_from_view(descriptor, view));
    return FittedCost(std::move(fitted));
  });
}

Result<FittedCost> FittedCost::fit(const CostModel& model, const Signal& signal) {
  return model.visit([&](const auto& descriptor) -> Result<FittedCost> {
    TARNWELL_TRY(fitted, descriptor.fit(signal));
    return FittedCost(std::move(fitted));
  });
}

namespace {

template <class Cost, class... Costs>
constexpr std::uint64_t alternative_index(const std::variant<Costs...>*) {
  constexpr bool matches[] = {std::is_same_v<Cost, Costs>...};
  for (std::uint64_t i = 0; i < sizeof...(Costs); ++i) {
    if (matches[i]) return i;
  }
  return sizeof...(Costs);
}

}  // namespace

void FittedCost::save(StateWriter& out) const {
  out.put(static_cast<std::uint64_t>(state_.index()));
  visit([&](const auto& cost) { cost.save(out); });
}

Result<FittedCost> FittedCost::restore(const CostModel& model, StateReader& in) {
  std::uint64_t index = 0;
  TARNWELL_CHECK(in.get(index));
  return model.visit([&](const auto& descriptor) -> Result<FittedCost> {
    using Cost = typename std::remove_cvref_t<decltype(descriptor)>::Fitted;
    if (index != alternative_index<Cost>(static_cast<const Variant*>(nullptr))) {
      return errors::fail(in.invalid("it holds another cost model"));
    }
    TARNWELL_TRY(cost, restore_cost<Cost>(in, descriptor));
    return FittedCost(std::move(cost));
  });
}

}  // namespace tarnwell
