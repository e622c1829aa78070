// Every search, in registration order (the order of the module's classes).
// The module's classes, its `_searches()` table, the package's routing and
// the tests are all read from this one list.
//
// Adding a search:
//   1. a folder src/search/<name>/ with its engine and its descriptor (see
//      search_descriptor.hpp: name, capabilities, texts, run); a model-based
//      search with the greedy frame's stopping rules gets its class generated;
//   2. its descriptor in the list below.
#pragma once

#include "search/dynp/dynp_search.hpp"
#include "search/greedy/binseg_search.hpp"
#include "search/greedy/bottom_up_search.hpp"
#include "search/greedy/window_search.hpp"
#include "search/kernel_cpd/kernel_cpd_search.hpp"
#include "search/l1_potts/l1_potts_search.hpp"
#include "search/pelt/pelt_search.hpp"
#include "search/search_descriptor.hpp"

namespace tarnwell {

using BuiltinSearches =
    SearchList<DynpSearch, PeltSearch, BinsegSearch, BottomUpSearch, WindowSearch, L1PottsSearch, KernelCPDSearch>;

}  // namespace tarnwell
