// Ctrl-C for searches on worker threads. The interpreter runs signal handlers
// on the main thread only, so a search on another thread never sees
// KeyboardInterrupt by itself. A caller that runs searches on a pool (the
// package's detect_many) makes each worker watch a group number; when the
// main thread is interrupted it interrupts the group, and the poll of every
// search on a watching thread then ends that search as Ctrl-C would.
#pragma once

#include <Python.h>

namespace tarnwell::python {

// True when the calling thread watches a group that was interrupted. Cheap
// enough for the interruption poll (every few tens of milliseconds).
bool watched_group_interrupted() noexcept;

// The module-private functions (registry.hpp): _watch_interruption_group(group)
// (0 stops watching; returns the group watched before), _interrupt_group(group)
// and _end_interruption_group(group), which forgets the interruption.

}  // namespace tarnwell::python
