#include "output/staged_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <optional>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>

namespace vellumark {
namespace {

constexpr int kHighestNumber = 9999;
constexpr std::size_t kCompareChunk = 65536;

// The process's umask, read without changing it (umask(2) can only set it,
// which would race with other threads creating files).
mode_t ReadUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    unsigned mask = 0;
    if (std::sscanf(line.c_str(), "Umask: %o", &mask) == 1) return static_cast<mode_t>(mask);
  }
  return 022;
}

// Read once: nothing in the program sets the umask, and a rescue publishes
// thousands of files, each of which would read /proc again.
mode_t CurrentUmask() {
  static const mode_t mask = ReadUmask();
  return mask;
}

// When a process started, in clock ticks since boot (the 22nd field of
// /proc/PID/stat); none when no such process runs. With the PID it names one
// process for good: a PID taken again by a later process has another start.
std::optional<unsigned long long> StartOfProcess(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return std::nullopt;
  // The command name in parentheses may hold blanks and parentheses itself.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return std::nullopt;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  for (int i = 3; i < 22; ++i) fields >> field;  // state (3) up to the start (22)
  unsigned long long start = 0;
  if (!(fields >> start)) return std::nullopt;
  return start;
}

const char kHiddenPrefix[] = ".vellumark-";
const char kHiddenSuffix[] = ".partial";

// A hidden name in folder that no other file is likely to have; callers
// still create it exclusively. It names the process that made it, PID and
// start, so that a later run can tell one left by a run that died.
std::string HiddenName(const std::string& folder) {
  static std::atomic<unsigned> counter{0};
  static thread_local std::mt19937 random{std::random_device{}()};
  static const unsigned long long start = StartOfProcess(::getpid()).value_or(0);
  return folder + "/" + kHiddenPrefix + std::to_string(::getpid()) + "-" + std::to_string(start) + "-" +
         std::to_string(counter++) + "-" + std::to_string(random() % 1000000) + kHiddenSuffix;
}

// The process a hidden name was made by: ".vellumark-PID-START-N-R.partial".
struct HiddenOwner {
  long pid = 0;
  unsigned long long start = 0;
};

std::optional<HiddenOwner> OwnerOfHiddenName(const std::string& name) {
  constexpr std::size_t prefix = sizeof kHiddenPrefix - 1;
  constexpr std::size_t suffix = sizeof kHiddenSuffix - 1;
  if (name.size() <= prefix + suffix || name.compare(0, prefix, kHiddenPrefix) != 0 ||
      name.compare(name.size() - suffix, suffix, kHiddenSuffix) != 0) {
    return std::nullopt;
  }
  unsigned long long numbers[4] = {};
  std::size_t at = prefix;
  const std::size_t end = name.size() - suffix;
  for (int i = 0; i < 4; ++i) {
    const std::size_t from = at;
    while (at < end && name[at] >= '0' && name[at] <= '9') numbers[i] = numbers[i] * 10 + (name[at++] - '0');
    if (at == from || at - from > 19) return std::nullopt;
    if (i < 3 && (at == end || name[at++] != '-')) return std::nullopt;
  }
  if (at != end || numbers[0] == 0) return std::nullopt;
  return HiddenOwner{static_cast<long>(numbers[0]), numbers[1]};
}

bool ReadFully(int fd, std::uint8_t* data, std::size_t size, std::int64_t offset) {
  while (size > 0) {
    const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    data += got;
    size -= static_cast<std::size_t>(got);
    offset += got;
  }
  return true;
}

}  // namespace

std::string NumberedName(const std::string& path, int n) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || dot <= nameStart) dot = path.size();  // no extension, or a hidden name
  return path.substr(0, dot) + "-" + std::to_string(n) + path.substr(dot);
}

StagedFile::StagedFile(std::string folder, int fd, std::string hiddenPath)
    : folder_(std::move(folder)), fd_(fd), hiddenPath_(std::move(hiddenPath)) {}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      fd_(std::exchange(other.fd_, -1)),
      hiddenPath_(std::move(other.hiddenPath_)),
      published_(other.published_) {
  other.hiddenPath_.clear();
}

StagedFile& StagedFile::operator=(StagedFile&& other) noexcept {
  if (this != &other) {
    Discard();
    folder_ = std::move(other.folder_);
    fd_ = std::exchange(other.fd_, -1);
    hiddenPath_ = std::move(other.hiddenPath_);
    published_ = other.published_;
    other.hiddenPath_.clear();
  }
  return *this;
}

StagedFile::~StagedFile() { Discard(); }

std::optional<StagedFile> StagedFile::Create(const std::string& folder, Staging staging) {
  const std::string where = folder.empty() ? "." : folder;
  // A nameless file is named through /proc; without it (a bare chroot) it
  // could never be named at all.
  static const bool procAvailable = ::access("/proc/self/fd", X_OK) == 0;
  if (staging == Staging::Nameless && procAvailable) {
    const int fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return StagedFile(where, fd, {});
    // FAT, NTFS through FUSE and network shares have no nameless files.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return std::nullopt;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string hidden = HiddenName(where);
    const int fd = ::open(hidden.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return StagedFile(where, fd, std::move(hidden));
    if (errno != EEXIST) return std::nullopt;
  }
  errno = EEXIST;
  return std::nullopt;
}

bool StagedFile::Append(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t wrote = ::write(fd_, bytes, size);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes += wrote;
    size -= static_cast<std::size_t>(wrote);
  }
  return true;
}

bool StagedFile::WriteAt(const void* data, std::size_t size, std::int64_t offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const ssize_t wrote = ::pwrite(fd_, bytes, size, static_cast<off_t>(offset));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    bytes += wrote;
    size -= static_cast<std::size_t>(wrote);
    offset += wrote;
  }
  return true;
}

bool StagedFile::Reserve(std::int64_t length) {
  if (length <= 0) return true;
  // posix_fallocate returns its error rather than setting errno.
  const int error = ::posix_fallocate(fd_, 0, static_cast<off_t>(length));
  if (error != 0) errno = error;
  return error == 0;
}

bool StagedFile::Flush() { return ::fsync(fd_) == 0; }

int StagedFile::LinkNoReplace(const std::string& path) {
  if (hiddenPath_.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
  }
  if (::renameat2(AT_FDCWD, hiddenPath_.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
    hiddenPath_.clear();
    return 0;
  }
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  // No atomic rename without replacing here: a hard link fails on an
  // existing name just the same.
  if (::link(hiddenPath_.c_str(), path.c_str()) == 0) {
    ::unlink(hiddenPath_.c_str());
    hiddenPath_.clear();
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  // FAT has neither: look, then rename. The folder is locked against other
  // runs, and rename replaces a link planted meanwhile rather than writing
  // through it.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return EEXIST;
  if (::rename(hiddenPath_.c_str(), path.c_str()) != 0) return errno;
  hiddenPath_.clear();
  return 0;
}

bool StagedFile::SameBytesAs(const std::string& path) const {
  const int other = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (other < 0) return false;
  struct stat mine {};
  struct stat theirs {};
  bool same = ::fstat(fd_, &mine) == 0 && ::fstat(other, &theirs) == 0 && S_ISREG(theirs.st_mode) &&
              mine.st_size == theirs.st_size;
  std::array<std::uint8_t, kCompareChunk> a{};
  std::array<std::uint8_t, kCompareChunk> b{};
  for (std::int64_t at = 0; same && at < mine.st_size; at += static_cast<std::int64_t>(kCompareChunk)) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(mine.st_size - at, kCompareChunk));
    same = ReadFully(fd_, a.data(), n, at) && ReadFully(other, b.data(), n, at) && std::memcmp(a.data(), b.data(), n) == 0;
  }
  ::close(other);
  return same;
}

std::optional<std::string> StagedFile::PublishKeepingOthers(const std::string& path) {
  if (fd_ < 0 || published_) return std::nullopt;
  if (::fchmod(fd_, 0644 & ~CurrentUmask()) != 0) return std::nullopt;
  for (int n = 1; n <= kHighestNumber; ++n) {
    const std::string candidate = n == 1 ? path : NumberedName(path, n);
    const int error = LinkNoReplace(candidate);
    if (error == 0) {
      published_ = true;
      return candidate;
    }
    if (error != EEXIST) return std::nullopt;
    if (SameBytesAs(candidate)) {
      Discard();
      published_ = true;
      return candidate;
    }
  }
  return std::nullopt;
}

bool StagedFile::PublishReplacing(const std::string& path) {
  if (fd_ < 0 || published_) return false;
  if (::fchmod(fd_, 0644 & ~CurrentUmask()) != 0) return false;
  if (hiddenPath_.empty()) {
    // Where the name is free, the nameless file takes it in one step, and a
    // run that dies leaves nothing behind.
    const int error = LinkNoReplace(path);
    if (error == 0) {
      published_ = true;
      return true;
    }
    if (error != EEXIST) return false;
    // Otherwise it is given a hidden name first, then renamed over path; a
    // run that dies in between leaves the hidden name to the next run.
    for (int attempt = 0; hiddenPath_.empty() && attempt < 100; ++attempt) {
      const std::string hidden = HiddenName(folder_);
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        hiddenPath_ = hidden;
      } else if (errno != EEXIST) {
        return false;
      }
    }
    if (hiddenPath_.empty()) return false;
  }
  // The name the user chose may have become a device node, a pipe or a
  // folder since it was checked: never renamed over (a link is replaced,
  // not followed, so one is no harm).
  struct stat there {};
  if (::lstat(path.c_str(), &there) == 0 && !S_ISREG(there.st_mode) && !S_ISLNK(there.st_mode)) {
    errno = S_ISDIR(there.st_mode) ? EISDIR : EEXIST;
    return false;
  }
  if (::rename(hiddenPath_.c_str(), path.c_str()) != 0) return false;
  hiddenPath_.clear();
  published_ = true;
  return true;
}

void StagedFile::RemoveAbandoned(const std::string& folder) {
  const std::string where = folder.empty() ? "." : folder;
  DIR* dir = ::opendir(where.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const auto owner = OwnerOfHiddenName(entry->d_name);
    if (!owner) continue;
    // Only a file whose maker no longer runs: a live run's, in this process
    // or another, is still being written.
    const auto start = StartOfProcess(owner->pid);
    if (start && *start == owner->start) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) continue;
    ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

void StagedFile::Discard() {
  if (!hiddenPath_.empty()) ::unlink(hiddenPath_.c_str());
  hiddenPath_.clear();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

}  // namespace vellumark
