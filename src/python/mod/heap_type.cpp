#include "python/mod/heap_type.hpp"

namespace tarnwell::python {

PyObject* new_bool(bool value) noexcept { return PyBool_FromLong(value ? 1 : 0); }

}  // namespace tarnwell::python
