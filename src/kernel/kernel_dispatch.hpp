// One switch from the kernel family (and one-dimensional rows) to the
// concrete kernel type, so the folds and table builds are instantiated per
// kernel and inline its arithmetic.
#pragma once

#include <cstddef>

#include "kernel/kernel_functions.hpp"
#include "kernel/kernel_spec.hpp"

namespace tarnwell {

template <class Body>
decltype(auto) with_kernel(KernelFamily family, const double* rows, std::size_t width, double gamma, Body&& body) {
  if (family == KernelFamily::rbf) {
    if (width == 1) return body(RbfKernel<1>{{rows, 1}, gamma});
    return body(RbfKernel<>{{rows, width}, gamma});
  }
  if (width == 1) return body(InnerProductKernel<1>{{rows, 1}});
  return body(InnerProductKernel<>{{rows, width}});
}

}  // namespace tarnwell
