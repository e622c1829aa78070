#include "python/mod/search_dispatch.hpp"

#include "python/mod/interruption_groups.hpp"

namespace tarnwell::python {

bool pending_signal_raised() noexcept {
  const PyGILState_STATE held = PyGILState_Ensure();
  const bool raised = PyErr_CheckSignals() != 0;
  PyGILState_Release(held);
  return raised || watched_group_interrupted();
}

}  // namespace tarnwell::python
