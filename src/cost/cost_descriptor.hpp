// The pieces a cost model's descriptor is made of. A descriptor is a plain
// value type holding the model's parameters (default-constructed, it is the
// model a search's `model=` name selects) and saying, as static members, how
// the model is named, how it fits and what its Python class looks like, and
// every fact about the model that another layer needs:
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
//
//     // What the package needs to describe the model and choose its defaults:
//     static constexpr CostScale scale = CostScale::absolute;
//     static constexpr std::string_view summary = "changes in median";  // its line in the `model` docs
//     static constexpr std::string_view use_when = "...";  // one line: when to choose it
//     static constexpr bool describes_trend = false;   // segments follow a regression, not a level
//     static constexpr bool rewards_constant_runs = false;  // a run of equal values costs next to nothing
//     std::uint64_t segment_parameters(std::uint64_t d) const noexcept;  // values a new segment adds
//     std::uint64_t residual_coordinates(std::uint64_t d) const noexcept;  // optional; default d
//     std::uint64_t default_min_size(std::uint64_t d) const noexcept;  // detect's default min_size
//     PenaltyRule penalty_rule() const;              // how its default penalty is formed
//     // The most splitting a segment can raise the total cost by (Pelt prunes
//     // with it); nothing when no bound is known (no pruning).
//     std::optional<double> split_bound(std::uint64_t d) const noexcept;
//     // The fitted parameters of every segment of a segmentation, one row of
//     // segment_parameters(d) values per segment, named by parameter_names.
//     std::vector<std::string> parameter_names(std::uint64_t d) const;
//     Status fit_segments(const Signal& signal, std::span<const std::uint64_t> breakpoints,
//                         std::span<double> out) const;
//     static constexpr bool long_fit = true;  // optional: fitting is a long search of its own, run from
//                                            // an owned copy without the interpreter lock, interruptible
//   };
//
// Optional members are detected with requires-expressions by the binding
// layer; a descriptor without `class_name` has no Python class of its own.
// The required ones are read by the catalogue (the binding's cost list), so a
// descriptor missing one fails to compile.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <vector>

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

// How the noise unit of a default penalty is measured, in the cost's units:
// the noise variance (`squared`); half the Laplace scale (`absolute`); the
// correlation factor alone, for costs already on a likelihood scale
// (`likelihood`), or on ranks (`ranks`); the variance of the residuals of one
// whole-signal regression of the first feature on the others (`regression`),
// of the innovations of one whole-signal autoregression (`innovations`); the
// marginal variance, without the correlation factor (`marginal`); for the
// kernels, the variance of the unit rows (`cosine`) or the mean kernel
// distance of neighbouring samples (`rbf`). `none`: the costs are not in the
// signal's units, so no noise unit prices a change (the rule's `instead` says
// what to pass).
enum class NoiseUnit : std::uint8_t {
  squared, absolute, likelihood, ranks, regression, innovations, marginal, cosine, rbf, none
};

// How a cost's default penalty is formed (the package's penalty rule reads it):
// (segment parameters + 2) ln(n) times the noise unit, raised for excursions
// and trends where the flags say so.
struct PenaltyRule {
  NoiseUnit unit = NoiseUnit::squared;
  bool inflated = true;    // the bounded long-run factor for correlated noise applies
  bool excursions = true;  // raised for short excursions (outliers, bursts)
  bool gradual = true;     // raised for trends and smooth rises
  // A floor on the noise term in noise units per sample, for costs whose
  // spurious savings grow with the segment's length.
  double noise_floor_per_sample = 0.0;
  // The lags of the whole-signal autoregression of the `innovations` unit.
  std::uint64_t autoregression_order = 0;
  // Per-feature weights of the `squared` unit (a metric's diagonal); empty: all 1.
  std::vector<double> feature_weights{};
  // With the unit `none`: why there is no default penalty and what to pass instead.
  std::string_view instead{};
};

template <class... Models>
struct CostList {
  static constexpr std::size_t size = sizeof...(Models);
};

}  // namespace tarnwell
