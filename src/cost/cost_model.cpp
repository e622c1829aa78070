#include "cost/cost_model.hpp"

#include <string>

#include "core/error/message.hpp"

namespace tarnwell {
namespace {

// The descriptor with its defaults when `name` is one of its model names.
template <class Model>
bool try_model(std::string_view name, std::optional<CostModel>& found) {
  if (found) return true;
  for (const std::string_view known : Model::model_names) {
    if (name == known) {
      found.emplace(Model{});
      return true;
    }
  }
  return false;
}

template <class... Models>
std::optional<CostModel> find_model(std::string_view name, CostList<Models...>) {
  std::optional<CostModel> found;
  (try_model<Models>(name, found) || ...);
  return found;
}

// The first name of every model, in list order ("l2, l1, ..."); aliases
// are accepted but not advertised.
template <class... Models>
std::string supported_names(CostList<Models...>) {
  std::string names;
  ((names += (names.empty() ? "" : ", "), names += Models::model_names[0]), ...);
  return names;
}

}  // namespace

Result<CostModel> parse_model(std::string_view name) {
  std::string lowered = ascii_lowercase(name);
  std::optional<CostModel> model = find_model(lowered, BuiltinCostModels{});
  if (!model) {
    static const std::string supported = supported_names(BuiltinCostModels{});
    return errors::fail(errors::unsupported_model(std::move(lowered), supported));
  }
  return *std::move(model);
}

}  // namespace tarnwell
