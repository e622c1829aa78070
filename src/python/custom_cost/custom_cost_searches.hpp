// Pelt and Dynp over a Python custom cost, and how such a search meets the
// interpreter: the lock stays held (every batch calls Python, so releasing it
// between batches would only add hand-overs), and an exception that a
// callback left behind is raised in place of the search's own outcome.
#pragma once

#include <Python.h>

#include <cstdint>

#include "python/custom_cost/custom_cost_adapter.hpp"
#include "python/custom_cost/search_nesting.hpp"
#include "python/mod/search_dispatch.hpp"
#include "search/common/segmentation.hpp"

namespace tarnwell::python {

// The engines instantiated for the adapter (custom_cost_searches.cpp).
Result<Segmentation> pelt_search(const CustomCostAdapter& cost, const SearchParameters& parameters, double pen);
Result<Segmentation> dynp_search(const CustomCostAdapter& cost, const SearchParameters& parameters,
                                 std::uint64_t n_bkps, std::uint64_t max_memory_bytes);

template <>
struct CostFamily<CustomCostAdapter> {
  template <class Search>
  static Result<Segmentation> run(const CustomCostAdapter& cost, Search&& search) {
    // A callback that starts this search again, or nests searches deeply,
    // fails here with RecursionError before the engine adds its frames.
    const CustomSearchNesting nesting(cost, cost.search_name());
    // Whatever an earlier, interrupted run left behind is not this run's.
    cost.take_pending_error();
    // Callbacks see Ctrl-C as any Python code does; the poll also covers the
    // engine's own work between callbacks.
    InterruptionScope interruptible(&pending_signal_raised);
    Result<Segmentation> outcome = [&] {
      try {
        return search(cost);
      } catch (...) {
        cost.take_pending_error();
        throw;
      }
    }();
    // The user's exception wins over the numerical failure it caused: it
    // reaches the caller as raised, with its traceback and chained causes.
    if (PyRef raised = cost.take_pending_error()) {
      restore_exception(std::move(raised));
      throw PythonErrorAlreadySet{};
    }
    return outcome;
  }
};

}  // namespace tarnwell::python
