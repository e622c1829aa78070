#pragma once

namespace tarnwell::python {

inline constexpr const char* module_version = "0.2.0";

}  // namespace tarnwell::python
