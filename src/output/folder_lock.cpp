#include "output/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace vellumark {

FolderLock::FolderLock(FolderLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

FolderLock::~FolderLock() { Release(); }

FolderLock::Outcome FolderLock::Acquire(const std::string& folder) {
  Release();
  const std::string path = (folder.empty() ? std::string(".") : folder) + "/" + kFileName;
  // The lock file is removed by whoever holds it when done, so a run may
  // lock a file that was just unlinked; it then tries again on the new one.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) return Outcome::Failed;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return Outcome::Busy;
      errno = error;
      return Outcome::Failed;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      fd_ = fd;
      path_ = path;
      return Outcome::Locked;
    }
    ::close(fd);
  }
  errno = EAGAIN;
  return Outcome::Failed;
}

void FolderLock::Release() {
  if (fd_ < 0) return;
  ::unlink(path_.c_str());
  ::close(fd_);
  fd_ = -1;
  path_.clear();
}

}  // namespace vellumark
