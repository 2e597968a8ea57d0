#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace vellumark {

// An allocator whose blocks start on a page, for the buffers that system
// reads fill. The kernel copies cached pages into a destination that starts
// on a page several times faster than into one that does not: a large block
// from malloc starts 16 bytes into its page, and there a cached 4 MiB read
// took four times as long.
template <typename T>
struct PageAlignedAllocator {
  using value_type = T;
  static constexpr std::align_val_t kPage{4096};

  PageAlignedAllocator() = default;
  template <typename U>
  explicit PageAlignedAllocator(const PageAlignedAllocator<U>&) {}

  T* allocate(std::size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), kPage)); }
  void deallocate(T* p, std::size_t) { ::operator delete(p, kPage); }

  template <typename U>
  bool operator==(const PageAlignedAllocator<U>&) const {
    return true;
  }
};

// Bytes that system reads fill, starting on a page.
using PageAlignedBytes = std::vector<std::uint8_t, PageAlignedAllocator<std::uint8_t>>;

}  // namespace vellumark
