#include "python/mod/interruption_groups.hpp"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "python/mod/class_builder.hpp"
#include "python/mod/registry.hpp"

namespace tarnwell::python {
namespace {

thread_local std::uint64_t watched_group = 0;

// Interrupted groups not yet ended: a handful at most.
std::mutex interrupted_mutex;
std::vector<std::uint64_t> interrupted_groups;

constexpr auto group_only = ParameterTable<UnsignedParameter>{UnsignedParameter{"group"}};

PyObject* watch_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_watch_interruption_group", group_only);
  return run_function("watching an interruption group", layout, group_only, args, nargs, kwnames,
                      [](std::uint64_t group) -> Result<PyRef> {
                        return to_python(std::exchange(watched_group, group));
                      });
}

PyObject* interrupt_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_interrupt_group", group_only);
  return run_function("interrupting a group", layout, group_only, args, nargs, kwnames,
                      [](std::uint64_t group) -> Result<PyRef> {
                        std::lock_guard lock(interrupted_mutex);
                        if (std::ranges::find(interrupted_groups, group) == interrupted_groups.end()) {
                          interrupted_groups.push_back(group);
                        }
                        return PyRef::borrow(Py_None);
                      });
}

PyObject* end_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const ArgumentLayout layout = argument_layout("_end_interruption_group", group_only);
  return run_function("ending an interruption group", layout, group_only, args, nargs, kwnames,
                      [](std::uint64_t group) -> Result<PyRef> {
                        std::lock_guard lock(interrupted_mutex);
                        std::erase(interrupted_groups, group);
                        return PyRef::borrow(Py_None);
                      });
}

}  // namespace

bool watched_group_interrupted() noexcept {
  if (watched_group == 0) return false;
  std::lock_guard lock(interrupted_mutex);
  return std::ranges::find(interrupted_groups, watched_group) != interrupted_groups.end();
}

PyMethodDef* watch_interruption_group_function() {
  return function_definition<&watch_entry>("_watch_interruption_group", group_only,
                                           "Make searches on this thread watch `group` (0: none); returns the "
                                           "previous one.");
}
PyMethodDef* interrupt_group_function() {
  return function_definition<&interrupt_entry>("_interrupt_group", group_only,
                                               "Interrupt every search on a thread watching `group`, as Ctrl-C "
                                               "would.");
}
PyMethodDef* end_interruption_group_function() {
  return function_definition<&end_entry>("_end_interruption_group", group_only, "Forget the interruption of `group`.");
}

}  // namespace tarnwell::python
