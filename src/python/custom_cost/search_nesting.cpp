#include "python/custom_cost/search_nesting.hpp"

#include <Python.h>

#include <algorithm>
#include <array>
#include <span>
#include <string>

#include "python/mod/py_ref.hpp"

namespace tarnwell::python {
namespace {

struct RunningSearches {
  std::array<const CustomCostAdapter*, max_nested_custom_searches> adapters{};
  std::size_t depth = 0;
};

thread_local RunningSearches running;

[[noreturn]] void refuse(const std::string& message) {
  PyErr_SetString(PyExc_RecursionError, message.c_str());
  throw PythonErrorAlreadySet{};
}

}  // namespace

CustomSearchNesting::CustomSearchNesting(const CustomCostAdapter& adapter, const char* search_name) {
  if (running.depth == max_nested_custom_searches) {
    const auto active = std::span(running.adapters);
    const bool reentered = std::find(active.begin(), active.end(), &adapter) != active.end();
    refuse(std::string(search_name) + (reentered ? " re-entered from a callback of its own custom cost"
                                                 : " started from custom cost callbacks") +
           " more than " + std::to_string(max_nested_custom_searches) + " searches deep on one thread");
  }
  running.adapters[running.depth++] = &adapter;
}

CustomSearchNesting::~CustomSearchNesting() { running.adapters[--running.depth] = nullptr; }

}  // namespace tarnwell::python
