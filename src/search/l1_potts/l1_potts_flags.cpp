#include "search/l1_potts/l1_potts_flags.hpp"

#include <sys/mman.h>

namespace tarnwell {

Result<ParentFlags> ParentFlags::allocate(std::size_t bytes, std::string_view context) {
  void* data = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (data == MAP_FAILED) return errors::fail(errors::allocation_failed(context));
#ifdef MADV_HUGEPAGE
  constexpr std::size_t huge_page = std::size_t{2} << 20;
  // Advice only: without huge pages the map still works, with more faults.
  if (bytes >= huge_page) madvise(data, bytes, MADV_HUGEPAGE);
#endif
  return ParentFlags(static_cast<std::uint8_t*>(data), bytes);
}

void ParentFlags::prefault(std::size_t begin, std::size_t end) const noexcept {
#ifdef MADV_POPULATE_WRITE
  constexpr std::size_t page = 4096;
  end = end < bytes_ ? end : bytes_;
  begin = begin / page * page;
  if (begin >= end) return;
  madvise(data_ + begin, end - begin, MADV_POPULATE_WRITE);
#else
  (void)begin;
  (void)end;
#endif
}

ParentFlags::~ParentFlags() {
  if (data_ != nullptr) munmap(data_, bytes_);
}

}  // namespace tarnwell
