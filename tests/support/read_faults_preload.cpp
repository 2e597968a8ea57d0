// Failing media for end-to-end tests of the command-line tool, which has no
// way to read a memory source: loaded with LD_PRELOAD, this library makes
// reads of one file fail over chosen byte ranges, as a disk's unreadable
// sectors do, and can raise SIGINT at the first read that reaches a chosen
// offset, as a user pressing Ctrl-C at that moment would. Every other file
// reads as usual.
//
//   VELLUMARK_FAULT_FILE        the file whose reads are affected
//   VELLUMARK_FAULT_UNREADABLE  "offset:length,offset:length..." in bytes;
//                               a read touching any of them fails with EIO
//   VELLUMARK_FAULT_INTERRUPT   an offset in bytes
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

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

bool TouchesUnreadable(long long offset, long long count) {
  const char* list = std::getenv("VELLUMARK_FAULT_UNREADABLE");
  while (list != nullptr && *list != '\0') {
    char* end = nullptr;
    const long long start = std::strtoll(list, &end, 10);
    if (*end != ':') return false;
    const long long length = std::strtoll(end + 1, &end, 10);
    if (offset < start + length && start < offset + count) return true;
    list = *end == ',' ? end + 1 : end;
  }
  return false;
}

ssize_t FaultyRead(PreadFunction real, int fd, void* buffer, std::size_t count, off_t offset) {
  if (IsFaultFile(fd)) {
    static bool interrupted = false;
    const char* at = std::getenv("VELLUMARK_FAULT_INTERRUPT");
    if (at != nullptr && !interrupted && offset + static_cast<off_t>(count) > std::strtoll(at, nullptr, 10)) {
      interrupted = true;
      std::raise(SIGINT);
    }
    if (TouchesUnreadable(offset, static_cast<long long>(count))) {
      errno = EIO;
      return -1;
    }
  }
  return real(fd, buffer, count, offset);
}

PreadFunction Next(const char* name) { return reinterpret_cast<PreadFunction>(::dlsym(RTLD_NEXT, name)); }

}  // namespace

extern "C" ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset) {
  static const PreadFunction real = Next("pread");
  return FaultyRead(real, fd, buffer, count, offset);
}

extern "C" ssize_t pread64(int fd, void* buffer, std::size_t count, off_t offset) {
  static const PreadFunction real = Next("pread64");
  return FaultyRead(real, fd, buffer, count, offset);
}
