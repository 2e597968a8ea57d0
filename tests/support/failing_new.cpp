// Preloaded (LD_PRELOAD) into a program under test to make it run out of
// memory where it would on a starved machine: every operator new of at least
// VELLUMARK_FAIL_NEW_FROM bytes throws std::bad_alloc, as the system's own
// would when no memory is left. Smaller requests are served as usual.
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::size_t Limit() {
  static const std::size_t limit = [] {
    const char* text = std::getenv("VELLUMARK_FAIL_NEW_FROM");
    return text != nullptr ? static_cast<std::size_t>(std::strtoull(text, nullptr, 10)) : SIZE_MAX;
  }();
  return limit;
}

void* Allocate(std::size_t size) {
  if (size >= Limit()) throw std::bad_alloc();
  if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
