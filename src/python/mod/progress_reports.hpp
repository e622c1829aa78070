// Progress of long searches, shown by the caller. A caller that wants it
// (the package's detect(..., progress=True), the command line on a terminal)
// installs a callable on its thread with _set_progress; the interruption
// poll, which already takes the interpreter lock every 50 ms or so while a
// search runs, then calls it with (done, total), the work units the search
// reported (total 0 when it does not know its share). Nothing is installed
// by default, and then the poll costs what it did.
#pragma once

#include <Python.h>

namespace tarnwell::python {

// Under the interpreter lock: calls the thread's progress callable, if any,
// with the progress the search last reported. False when it raised (the
// exception stays set, for the search to end with it).
bool report_progress() noexcept;

// The module-private function _set_progress(callback) (registry.hpp):
// installs `callback` (None: none) for the searches on this thread and
// returns the one installed before.

}  // namespace tarnwell::python
