#include "python/mod/search_dispatch.hpp"

#include "python/mod/interruption_groups.hpp"
#include "python/mod/progress_reports.hpp"

namespace tarnwell::python {

bool pending_signal_raised() noexcept {
  const PyGILState_STATE held = PyGILState_Ensure();
  const bool raised = PyErr_CheckSignals() != 0 || !report_progress();
  PyGILState_Release(held);
  return raised || watched_group_interrupted();
}

}  // namespace tarnwell::python
