// A disk that fails to keep what was written: loaded with LD_PRELOAD, this
// library makes one fsync(2) of the program fail with EIO, as a failing disk
// or a full network share reports it. Every other call works as usual.
//
//   VELLUMARK_FAIL_FSYNC  which call fails, counting from 1
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

extern "C" int fsync(int fd) {
  static std::atomic<long> calls{0};
  const char* failing = std::getenv("VELLUMARK_FAIL_FSYNC");
  if (failing != nullptr && ++calls == std::atol(failing)) {
    errno = EIO;
    return -1;
  }
  static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fsync"));
  return real(fd);
}
