// The documentation of the `model` parameter, written at compile time from
// the cost list: every model's name, its line (the descriptor's summary), its
// aliases and its parameters' defaults. A model added to the list appears in
// every docstring that explains `model`.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>
#include <tuple>

#include "cost/cost_list.hpp"

namespace tarnwell::python {

// A text built at compile time, usable wherever a docstring constant is.
template <std::size_t N>
struct StaticText {
  std::array<char, N + 1> chars{};
  constexpr const char* c_str() const noexcept { return chars.data(); }
  constexpr std::string_view view() const noexcept { return {chars.data(), N}; }
};

namespace model_docs_detail {

// "\"l2\" (changes in mean), ..., or \"mahalanobis\" (alias \"ml\", ...)".
template <class Emit, class... Models>
constexpr void write_models(Emit& emit, CostList<Models...>) {
  std::size_t index = 0;
  auto one = [&]<class Model>() {
    if (index > 0) emit(index + 1 == sizeof...(Models) ? ", or " : ", ");
    ++index;
    emit("\"");
    emit(Model::model_names[0]);
    emit("\" (");
    for (std::size_t alias = 1; alias < Model::model_names.size(); ++alias) {
      emit("alias \"");
      emit(Model::model_names[alias]);
      emit("\", ");
    }
    emit(Model::summary);
    std::apply(
        [&](const auto&... parameter) {
          ((parameter.default_text.empty() ? void() : (emit(", "), emit(parameter.name), emit("="),
                                                        emit(parameter.default_text))),
           ...);
        },
        Model::parameters);
    emit(")");
  };
  (one.template operator()<Models>(), ...);
}

template <class Write>
constexpr std::size_t length_of(Write write) {
  std::size_t length = 0;
  auto count = [&](std::string_view piece) { length += piece.size(); };
  write(count);
  return length;
}

template <std::size_t N, class Write>
constexpr StaticText<N> text_of(Write write) {
  StaticText<N> text;
  std::size_t at = 0;
  auto copy = [&](std::string_view piece) {
    for (const char c : piece) text.chars[at++] = c;
  };
  write(copy);
  return text;
}

// The `model` line of a class docstring.
inline constexpr auto write_parameter = [](auto& emit) {
  emit("model: the segment cost: a model name, one of ");
  write_models(emit, BuiltinCostModels{});
  emit("; or a built-in cost object with parameters of its own, such as CostAR(order=2) or "
       "CostNormal(ridge=1e-3), which runs as natively as its name. The Cost* classes document each.");
};

// The `model` property's docstring.
inline constexpr auto write_property = [](auto& emit) {
  emit("The cost model: its name, lower-cased, when given by name; an unfitted cost object of the same "
       "parameters when given a cost object; \"custom\" when a custom cost is used.\n\n");
  write_parameter(emit);
};

}  // namespace model_docs_detail

inline constexpr auto model_parameter_doc =
    model_docs_detail::text_of<model_docs_detail::length_of(model_docs_detail::write_parameter)>(
        model_docs_detail::write_parameter);
inline constexpr auto model_property_doc =
    model_docs_detail::text_of<model_docs_detail::length_of(model_docs_detail::write_property)>(
        model_docs_detail::write_property);

}  // namespace tarnwell::python
