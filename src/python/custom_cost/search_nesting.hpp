// The depth guard of searches over Python custom costs. A callback is Python
// code and may start another search, even a prediction of the estimator that
// is calling it (which reads the running search's own fitted state); every
// such level adds the engine's native frames to the thread's stack, which the
// interpreter's recursion limit, counting Python frames, does not see. A
// callback that re-enters its own estimator unconditionally would recurse
// until the stack runs out, so each thread counts the custom-cost searches it
// runs inside one another and refuses, with RecursionError, the one beyond a
// small fixed depth: well before a stack of any usual size is exhausted,
// whatever the recursion limit.
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
