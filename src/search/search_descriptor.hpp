// What a search declares about itself, in its folder's descriptor
// (src/search/<name>/<name>_search.hpp), and how the list of searches
// (search_list.hpp) is written. Every layer reads the list: the module
// registers one class per entry, the package routes `detect` by the
// capabilities, the penalty path takes the exact penalized searches, and the
// tests walk it.
//
//   struct BinsegSearch {
//     static constexpr std::string_view class_name = "Binseg";
//     static constexpr SearchCapabilities capabilities{...};
//     // A model-based search with the greedy frame's three stopping rules
//     // declares its texts and its engine; its class is then generated
//     // (python/mod/model_search_class.hpp):
//     static constexpr std::string_view description = "...";          // the class docstring's own text
//     static constexpr std::string_view predict_description = "...";  // predict's own text
//     static Result<Segmentation> run(const FittedCost&, const SearchParameters&, const StoppingRule&);
//     template <SegmentCost Cost>  // any other cost family (the custom-cost adapter)
//     static Result<Segmentation> run(const Cost&, const SearchParameters&, const StoppingRule&);
//   };
//
// A search with a class of its own (Pelt, Dynp, Window, L1Potts, KernelCPD)
// declares only its name and capabilities here, plus the penalty rule of a
// cost it brings itself (L1Potts, KernelCPD's kernels).
#pragma once

#include <cstdint>
#include <string_view>

namespace tarnwell {

struct SearchCapabilities {
  bool penalized = false;    // predict(pen=...): a penalty per change
  bool fixed_count = false;  // predict(n_bkps=...): a number of changes
  bool threshold = false;    // predict(epsilon=...): a reconstruction budget
  bool exact = false;        // the result is the optimum of its rule, not a greedy approximation
  bool custom_cost = false;  // takes a Python custom cost (custom_cost=...)
  bool model = false;        // takes a cost model (model=, a name or a cost object)

  // Every distinct optimum over a range of penalties can be traced (CROPS)
  // only with an exact penalized search.
  constexpr bool penalty_path() const noexcept { return exact && penalized; }
};

template <class... Searches>
struct SearchList {
  static constexpr std::size_t size = sizeof...(Searches);
};

}  // namespace tarnwell
