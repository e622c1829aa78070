// NumPy's C API, shared by every binding source through one symbol table that
// the module's execution step imports. Include after defining NO_IMPORT_ARRAY
// everywhere but in that one source.
#pragma once

#include <Python.h>

#define PY_ARRAY_UNIQUE_SYMBOL tarnwell_ARRAY_API
#include <numpy/arrayobject.h>
