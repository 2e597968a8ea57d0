#include "access/posix_platform_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vellumark {

PosixPlatformSource::~PosixPlatformSource() { Close(); }

bool PosixPlatformSource::Open(const std::string& path) {
  Close();
  // O_RDONLY is the whole point: the source is the disk being rescued.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  position_ = 0;
  return fd_ >= 0;
}

bool PosixPlatformSource::IsBlockDevice() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

std::optional<std::int64_t> PosixPlatformSource::PartitionLength() {
  if (fd_ < 0) return std::nullopt;
  if (IsBlockDevice()) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return std::nullopt;
    return static_cast<std::int64_t>(bytes);
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::uint32_t> PosixPlatformSource::PartitionSectorSize() {
  if (!IsBlockDevice()) return std::nullopt;
  int size = 0;
  if (::ioctl(fd_, BLKSSZGET, &size) != 0 || size <= 0) return std::nullopt;
  return static_cast<std::uint32_t>(size);
}

std::int64_t PosixPlatformSource::Seek(std::int64_t offset, SeekOrigin origin) {
  if (fd_ < 0) return -1;
  std::int64_t base = 0;
  if (origin == SeekOrigin::End) {
    auto length = PartitionLength();
    if (!length) return -1;
    base = *length;
  }
  if ((offset > 0 && base > INT64_MAX - offset) || base + offset < 0) return -1;
  position_ = base + offset;
  return position_;
}

std::int64_t PosixPlatformSource::Read(void* destination, std::size_t count) {
  if (fd_ < 0) return -1;
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t done = 0;
  while (done < count) {
    ssize_t got = ::pread(fd_, out + done, count - done, static_cast<off_t>(position_));
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;  // end of the source
    done += static_cast<std::size_t>(got);
    position_ += got;
  }
  return static_cast<std::int64_t>(done);
}

std::optional<std::uint64_t> PosixPlatformSource::DeviceNumber() {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISBLK(st.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_rdev);
}

std::optional<FileId> PosixPlatformSource::OpenFileId() {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return std::nullopt;
  return FileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

void PosixPlatformSource::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  position_ = 0;
}

}  // namespace vellumark
