// The depth guard of searches over Python custom costs. A callback is Python
// code and may start another search, even on the estimator that is calling
// it; every such level adds the engine's native frames to the thread's stack,
// which the interpreter's recursion limit (counting Python frames) does not
// see. So each thread keeps the adapters whose searches it is running: a
// search on an adapter already in that list (a callback re-entering its own
// estimator, which would recurse without end) and a nesting deeper than a
// small fixed limit both fail at once with RecursionError, well before any
// stack of usual size runs out.
#pragma once

#include <cstddef>

namespace tarnwell::python {

class CustomCostAdapter;

// Custom-cost searches one thread may run inside one another's callbacks.
inline constexpr std::size_t max_nested_custom_searches = 8;

class CustomSearchNesting {
 public:
  // Raises RecursionError (PythonErrorAlreadySet) when the search may not start.
  CustomSearchNesting(const CustomCostAdapter& adapter, const char* search_name);
  ~CustomSearchNesting();
  CustomSearchNesting(const CustomSearchNesting&) = delete;
  CustomSearchNesting& operator=(const CustomSearchNesting&) = delete;
};

}  // namespace tarnwell::python
