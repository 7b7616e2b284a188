// An allocator for the large tables a reader fills: requests of a huge page
// (2 MiB) or more are served in memory that asks for transparent huge pages,
// so a large registry costs a few page faults instead of thousands; smaller
// ones come from the ordinary heap. Measured in bench/README.md.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

namespace kxsane {

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// `bytes` (a multiple of kHugePage) of zeroed memory starting on a huge page
// boundary; throws std::bad_alloc when the memory cannot be committed. The
// mapping is accounted like any heap memory, so a shortage fails here rather
// than killing the tool when a page is first touched.
inline void* map_huge_pages(std::size_t bytes) {
  // One huge page more, so that the memory can start on a boundary; what
  // lies outside goes back.
  void* raw = ::mmap(nullptr, bytes + kHugePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED)
    throw std::bad_alloc();
  auto* start = static_cast<char*>(raw);
  const std::size_t before =
      (kHugePage - reinterpret_cast<std::uintptr_t>(start) % kHugePage) % kHugePage;
  if (before > 0)
    ::munmap(start, before);
  ::munmap(start + before + bytes, kHugePage - before);
  ::madvise(start + before, bytes, MADV_HUGEPAGE);
  return start + before;
}

template <typename T>
class HugePageAllocator {
 public:
  using value_type = T;

  HugePageAllocator() = default;
  template <typename U>
  explicit HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    // The size, rounded up and with a huge page more, must not wrap.
    if (count > (std::numeric_limits<std::size_t>::max() - 2 * kHugePage) / sizeof(T))
      throw std::bad_array_new_length();
    if (count * sizeof(T) < kHugePage)
      return std::allocator<T>().allocate(count);
    return static_cast<T*>(map_huge_pages(rounded(count)));
  }

  void deallocate(T* values, std::size_t count) noexcept {
    if (count * sizeof(T) < kHugePage) {
      std::allocator<T>().deallocate(values, count);
    } else {
      ::munmap(values, rounded(count));
    }
  }

  friend bool operator==(const HugePageAllocator&, const HugePageAllocator&) { return true; }

 private:
  static std::size_t rounded(std::size_t count) {
    return (count * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage;
  }
};

}  // namespace kxsane
