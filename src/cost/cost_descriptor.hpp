// The pieces a cost model's descriptor is made of. A descriptor is a plain
// value type holding the model's parameters (default-constructed, it is the
// model a search's `model=` name selects) and saying, as static members, how
// the model is named, how it fits and what its Python class looks like:
//
//   struct L1Model {
//     using Fitted = L1Cost;                        // satisfies SegmentCost
//     static constexpr std::string_view class_name = "CostL1";
//     static constexpr std::string_view description = "";      // docstring text after the signature
//     static constexpr std::array<std::string_view, 1> model_names{"l1"};  // accepted by parse_model
//     static constexpr auto parameters = std::tuple{};  // ModelParameter{...}: the class constructor's
//     static constexpr auto properties = std::tuple{};  // ModelProperty{name, getter, doc}: read-only properties
//     Status check() const;                          // constructor-time checks (optional)
//     std::uint64_t min_segment_length() const noexcept;
//     Result<L1Cost> fit(const Signal& signal) const;
//     std::string repr(const L1Cost* fitted) const;   // optional; default "CostL1(n_samples=.., ..)"
//     // What the package needs to choose a penalty and to describe the model:
//     static constexpr CostScale scale = CostScale::absolute;
//     static constexpr std::string_view use_when = "...";  // one line
//     std::uint64_t segment_parameters(std::uint64_t d) const noexcept;  // values a new segment adds
//     std::uint64_t residual_coordinates(std::uint64_t d) const noexcept;  // optional; default d
//     static constexpr bool long_fit = true;  // optional: fitting is a long search of its own, run from
//                                            // an owned copy without the interpreter lock, interruptible
//   };
//
// Optional members are detected with requires-expressions by the binding
// layer; a descriptor without `class_name` has no Python class of its own.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>

namespace tarnwell {

// One constructor parameter of a cost class, bound to a data member of the
// descriptor. The default is the member's value in a default-constructed
// descriptor; `default_text` is how the text signature shows it, and an
// empty text marks a required parameter.
template <class Model, class Value>
struct ModelParameter {
  std::string_view name;
  Value Model::*member;
  std::string_view default_text;
};

// One read-only property of a cost class: a data member of the descriptor or a
// const member function returning the value (integers and floats), with its
// docstring.
template <class Getter>
struct ModelProperty {
  std::string_view name;
  Getter getter;
  std::string_view doc;
};

// How a model's segment costs follow the signal's scale, which sets the
// units of its penalty: sums of squares grow with the square of the signal,
// absolute deviations with the signal, and likelihood-type costs (normal,
// rank) do not change.
enum class CostScale : std::uint8_t { squared, absolute, likelihood };

template <class... Models>
struct CostList {
  static constexpr std::size_t size = sizeof...(Models);
};

}  // namespace tarnwell
