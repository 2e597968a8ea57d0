#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumark {

// Part of an image file mapped read-only into memory, so that a reader can
// look at the cached pages in place instead of copying them out. A mapped
// page can become unreadable while it is held (the file shrinks, the disk
// fails): its bytes are read only through PlatformSource::ReadMapped, which
// turns such a fault into a failed read instead of the end of the process.
class MappedBytes {
 public:
  virtual ~MappedBytes() = default;
  virtual const std::uint8_t* Data() const = 0;
  virtual std::size_t Size() const = 0;
};

// What reads mapped bytes: a plain function, since a fault leaves it without
// unwinding. Whatever it reaches must need no destroying (no strings, no
// vectors it owns), and what it wrote before the fault is to be discarded.
using MappedReader = void (*)(void* context);

}  // namespace vellumark
