// Tables that grow with the signal (prefix statistics, optimal-path tables)
// are held in vectors with this allocator, for the cost of fresh memory,
// which on a long signal is a noticeable share of a whole search:
// - elements are default-initialised, so that `resize` leaves doubles and
//   integers unwritten until their owner fills them, instead of writing
//   zeros over the table first;
// - a table of at least `prefault_threshold` bytes has its pages mapped in
//   one request when it is allocated, instead of one page fault per page on
//   first touch (a third less time on Linux). The kernel may decline; the
//   pages then fault in as usual.
// Allocation failures throw std::bad_alloc, as std::allocator's do, for
// `try_allocate` to turn into an error value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace tarnwell {

inline constexpr std::size_t prefault_threshold = std::size_t{1} << 20;

// Maps the whole pages inside [memory, memory + bytes) now.
inline void prefault(void* memory, std::size_t bytes) noexcept {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  static const long page = ::sysconf(_SC_PAGESIZE);
  if (page <= 0) return;
  const auto size = static_cast<std::uintptr_t>(page);
  const auto begin = (reinterpret_cast<std::uintptr_t>(memory) + size - 1) / size * size;
  const auto end = (reinterpret_cast<std::uintptr_t>(memory) + bytes) / size * size;
  // Advice only: an older kernel, or one short of memory, refuses it.
  if (begin < end) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#else
  (void)memory;
  (void)bytes;
#endif
}

template <class T>
class LargeTableAllocator {
 public:
  using value_type = T;

  LargeTableAllocator() noexcept = default;
  template <class U>
  LargeTableAllocator(const LargeTableAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    T* memory = std::allocator<T>().allocate(count);
    if (count >= prefault_threshold / sizeof(T)) prefault(memory, count * sizeof(T));
    return memory;
  }
  void deallocate(T* memory, std::size_t count) noexcept { std::allocator<T>().deallocate(memory, count); }

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
