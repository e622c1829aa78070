// Tables that grow with the signal (prefix statistics, optimal-path tables)
// are held in vectors with this allocator, for two reasons that both concern
// the first touch of fresh memory, which on long signals costs as much as a
// search:
// - elements are default-initialised, so that `resize` leaves doubles and
//   integers unwritten until their owner fills them, instead of writing
//   zeros over the table first;
// - a table of at least `huge_page_threshold` bytes is aligned to a huge page
//   and offered to the kernel for transparent huge pages (as NumPy does for
//   its arrays), so that it is mapped in 2 MiB pages instead of faulting in
//   4 KiB at a time. The kernel may decline; nothing depends on it.
// Allocation failures throw std::bad_alloc, as std::allocator's do, for
// `try_allocate` to turn into an error value.
#pragma once

#include <cstddef>
#include <new>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tarnwell {

inline constexpr std::size_t huge_page_size = std::size_t{1} << 21;
inline constexpr std::size_t huge_page_threshold = std::size_t{1} << 22;

template <class T>
class LargeTableAllocator {
 public:
  using value_type = T;

  LargeTableAllocator() noexcept = default;
  template <class U>
  LargeTableAllocator(const LargeTableAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    if (bytes < huge_page_threshold) return static_cast<T*>(::operator new(bytes));
    // Whole huge pages, so that the advice covers every page of the table.
    const std::size_t rounded = (bytes + huge_page_size - 1) / huge_page_size * huge_page_size;
    void* memory = ::operator new(rounded, std::align_val_t{huge_page_size});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Advice only: where the kernel has no huge pages the table is mapped as
    // usual.
    ::madvise(memory, rounded, MADV_HUGEPAGE);
#endif
    return static_cast<T*>(memory);
  }

  void deallocate(T* memory, std::size_t count) noexcept {
    const std::size_t bytes = count * sizeof(T);
    if (bytes < huge_page_threshold) {
      ::operator delete(memory);
    } else {
      ::operator delete(memory, std::align_val_t{huge_page_size});
    }
  }

  // Default-initialisation: no write at all for doubles and integers.
  template <class U>
  void construct(U* at) noexcept(noexcept(::new(static_cast<void*>(at)) U)) {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Arguments>
  void construct(U* at, Arguments&&... arguments) {
    ::new (static_cast<void*>(at)) U(static_cast<Arguments&&>(arguments)...);
  }

  template <class U>
  bool operator==(const LargeTableAllocator<U>&) const noexcept {
    return true;
  }
};

template <class T>
using LargeTable = std::vector<T, LargeTableAllocator<T>>;

}  // namespace tarnwell
