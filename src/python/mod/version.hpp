#pragma once

namespace tarnwell::python {

// The one place the version is written: pyproject.toml reads it from here
// (scikit-build-core's regex provider), the documentation from the module.
// A release adds its entry to CHANGELOG.md (a test checks they agree).
inline constexpr const char* module_version = "0.3.0";

}  // namespace tarnwell::python
