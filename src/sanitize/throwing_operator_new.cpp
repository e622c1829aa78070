// Compiled into sanitizer builds only.
//
// The address sanitizer's operator new ends the process when it cannot
// satisfy a request, even with allocator_may_return_null=1, so under it every
// path that turns a failed allocation into a MemoryError would abort instead.
// These replacements allocate with malloc, which the sanitizer still checks and
// which returns null when allowed to, and throw std::bad_alloc as operator new
// must. They are hidden: they serve this binary's own code only, while the
// standard library's compiled parts keep the sanitizer's versions. Memory may
// therefore be allocated by one family and freed by the other, which is why the
// sanitizer runs with alloc_dealloc_mismatch=0.
#include <cstdlib>
#include <new>

#define TARNWELL_HIDDEN __attribute__((visibility("hidden")))

namespace {

void* allocate(std::size_t size) {
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) {
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = size == 0 ? align : (size + align - 1) / align * align;
  if (rounded < size) throw std::bad_alloc();
  if (void* memory = std::aligned_alloc(align, rounded)) return memory;
  throw std::bad_alloc();
}

}  // namespace

TARNWELL_HIDDEN void* operator new(std::size_t size) { return allocate(size); }
TARNWELL_HIDDEN void* operator new[](std::size_t size) { return allocate(size); }
TARNWELL_HIDDEN void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocate_aligned(size, alignment);
}
TARNWELL_HIDDEN void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate_aligned(size, alignment);
}
TARNWELL_HIDDEN void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
TARNWELL_HIDDEN void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}

TARNWELL_HIDDEN void operator delete(void* memory) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete[](void* memory) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
TARNWELL_HIDDEN void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
