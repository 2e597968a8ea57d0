// Failing media for end-to-end tests of the command-line tool, which has no
// way to read a memory source: loaded with LD_PRELOAD, this library makes
// reads of one file fail over chosen byte ranges, as a disk's unreadable
// sectors do, and can send the process a signal at the first read (or the
// first mapping of the file's bytes, which an image's search reads through)
// that reaches a chosen offset, as a user pressing Ctrl-C, or a system
// ending the program, at that moment would. Every other file reads as usual.
//
//   VELLUMARK_FAULT_FILE           the file whose reads are affected
//   VELLUMARK_FAULT_UNREADABLE     "offset:length,offset:length..." in bytes;
//                                  a read touching any of them fails with EIO
//   VELLUMARK_FAULT_INTERRUPT      an offset in bytes, for reads
//   VELLUMARK_FAULT_MAP_INTERRUPT  an offset in bytes, for mappings
//   VELLUMARK_FAULT_SIGNAL         the signal's number (SIGINT when not set)
//   VELLUMARK_FAULT_PAGE           a page size in bytes: a read through the
//                                  cache then fails when it touches any page
//                                  that holds an unreadable range, as the
//                                  system's cache does; a read past the cache
//                                  (O_DIRECT) only when it touches the range
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace {

using PreadFunction = ssize_t (*)(int, void*, std::size_t, off_t);

bool IsFaultFile(int fd) {
  const char* path = std::getenv("VELLUMARK_FAULT_FILE");
  struct stat opened {};
  struct stat named {};
  return path != nullptr && ::fstat(fd, &opened) == 0 && ::stat(path, &named) == 0 &&
         opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

bool TouchesUnreadable(int fd, long long offset, long long count) {
  const char* list = std::getenv("VELLUMARK_FAULT_UNREADABLE");
  const char* pageText = std::getenv("VELLUMARK_FAULT_PAGE");
  const int flags = ::fcntl(fd, F_GETFL);
  const long long page = pageText != nullptr && (flags < 0 || (flags & O_DIRECT) == 0) ? std::atoll(pageText) : 1;
  while (list != nullptr && *list != '\0') {
    char* end = nullptr;
    long long start = std::strtoll(list, &end, 10);
    if (*end != ':') return false;
    long long length = std::strtoll(end + 1, &end, 10);
    // Widened to the pages that hold it, for a read through the cache.
    const long long first = start / page * page;
    length = (start + length + page - 1) / page * page - first;
    start = first;
    if (offset < start + length && start < offset + count) return true;
    list = *end == ',' ? end + 1 : end;
  }
  return false;
}

// Sends the signal once, the first time [offset, offset + count) of the
// file reaches past the offset the variable names. It is raised in the
// thread that reads, so that it is taken before the read goes on; its
// handler is the process's own, as for a signal sent from outside.
void SignalWhenReached(const char* variable, off_t offset, std::size_t count) {
  static std::atomic<bool> signalled{false};
  const char* at = std::getenv(variable);
  if (at == nullptr || offset + static_cast<off_t>(count) <= std::strtoll(at, nullptr, 10)) return;
  if (signalled.exchange(true)) return;
  const char* number = std::getenv("VELLUMARK_FAULT_SIGNAL");
  std::raise(number != nullptr ? std::atoi(number) : SIGINT);
}

ssize_t FaultyRead(PreadFunction real, int fd, void* buffer, std::size_t count, off_t offset) {
  if (IsFaultFile(fd)) {
    SignalWhenReached("VELLUMARK_FAULT_INTERRUPT", offset, count);
    if (TouchesUnreadable(fd, offset, static_cast<long long>(count))) {
      errno = EIO;
      return -1;
    }
  }
  return real(fd, buffer, count, offset);
}

using MmapFunction = void* (*)(void*, std::size_t, int, int, int, off_t);

void* FaultyMap(MmapFunction real, void* address, std::size_t length, int protection, int flags, int fd,
                off_t offset) {
  if (IsFaultFile(fd)) SignalWhenReached("VELLUMARK_FAULT_MAP_INTERRUPT", offset, length);
  return real(address, length, protection, flags, fd, offset);
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) {
  static const auto real = Next<PreadFunction>("pread");
  return FaultyRead(real, fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, std::size_t count, off_t offset) {
  static const auto real = Next<PreadFunction>("pread64");
  return FaultyRead(real, fd, buffer, count, offset);
}

extern "C" void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) {
  static const auto real = Next<MmapFunction>("mmap");
  return FaultyMap(real, address, length, protection, flags, fd, offset);
}

extern "C" void* mmap64(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) {
  static const auto real = Next<MmapFunction>("mmap64");
  return FaultyMap(real, address, length, protection, flags, fd, offset);
}
