#include "access/posix_mapped_file.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csetjmp>
#include <csignal>
#include <mutex>

namespace vellumark {
namespace {

class PosixMappedBytes final : public MappedBytes {
 public:
  PosixMappedBytes(void* base, std::size_t length, std::size_t lead, std::size_t size)
      : base_(base), length_(length), lead_(lead), size_(size) {}
  ~PosixMappedBytes() override { ::munmap(base_, length_); }
  PosixMappedBytes(const PosixMappedBytes&) = delete;
  PosixMappedBytes& operator=(const PosixMappedBytes&) = delete;

  const std::uint8_t* Data() const override { return static_cast<const std::uint8_t*>(base_) + lead_; }
  std::size_t Size() const override { return size_; }

 private:
  void* base_;
  std::size_t length_;  // of the mapping, from a page start
  std::size_t lead_;    // bytes of the mapping before the range asked for
  std::size_t size_;
};

// Where a bus error on this thread goes back to, while it reads mapped bytes.
thread_local sigjmp_buf* volatile armedJump = nullptr;
struct sigaction previousAction {};

void OnBusError(int signal, siginfo_t* info, void* context) {
  if (sigjmp_buf* jump = armedJump) {
    armedJump = nullptr;
    siglongjmp(*jump, 1);
  }
  // Not a read of mapped bytes: hand it on to whoever had it before.
  if ((previousAction.sa_flags & SA_SIGINFO) != 0 && previousAction.sa_sigaction != nullptr) {
    previousAction.sa_sigaction(signal, info, context);
  } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
    previousAction.sa_handler(signal);
  } else {
    // Back to the default, and the signal again: it waits until this
    // handler returns, then ends the process as it would have without it.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(SIGBUS, &fallback, nullptr);
    ::raise(signal);
  }
}

void InstallBusErrorHandler() {
  static std::once_flag installed;
  std::call_once(installed, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousAction);
  });
}

}  // namespace

std::unique_ptr<MappedBytes> MapFileRange(int fd, std::int64_t offset, std::int64_t count) {
  struct stat st {};
  if (fd < 0 || offset < 0 || count <= 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      offset > st.st_size - count) {
    return nullptr;
  }
  static const std::int64_t page = ::sysconf(_SC_PAGESIZE) > 0 ? ::sysconf(_SC_PAGESIZE) : 4096;
  const std::int64_t start = offset / page * page;
  const auto lead = static_cast<std::size_t>(offset - start);
  const std::size_t length = lead + static_cast<std::size_t>(count);
  void* base = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, start);
  if (base == MAP_FAILED) return nullptr;
  auto mapped = std::make_unique<PosixMappedBytes>(base, length, lead, static_cast<std::size_t>(count));
  ::madvise(base, length, MADV_SEQUENTIAL);
#ifdef MADV_POPULATE_READ
  // Reads the pages in now, on the caller's thread, and says so when one
  // cannot be read. Kernels before 5.14 do not know it (EINVAL): their
  // pages are read in as they are touched, under ReadMappedGuarded.
  if (::madvise(base, length, MADV_POPULATE_READ) != 0 && errno != EINVAL) return nullptr;
#endif
  return mapped;
}

bool ReadMappedGuarded(MappedReader read, void* context) {
  InstallBusErrorHandler();
  sigjmp_buf jump;
  // The signal mask is saved, so that SIGBUS is not left blocked after the
  // handler is left by the jump.
  if (sigsetjmp(jump, 1) != 0) return false;
  armedJump = &jump;
  read(context);
  armedJump = nullptr;
  return true;
}

}  // namespace vellumark
