// One switch from the kernel family to the concrete kernel type, so the
// folds and table builds are instantiated per kernel and inline its arithmetic.
#pragma once

#include <cstddef>

#include "kernel/kernel_functions.hpp"
#include "kernel/kernel_spec.hpp"

namespace tarnwell {

template <class Body>
decltype(auto) with_kernel(KernelFamily family, const double* rows, std::size_t width, double gamma, Body&& body) {
  if (family == KernelFamily::rbf) return body(RbfKernel{rows, width, gamma});
  return body(InnerProductKernel{rows, width});
}

}  // namespace tarnwell
