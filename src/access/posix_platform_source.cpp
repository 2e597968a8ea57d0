#include "access/posix_platform_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "access/posix_mapped_file.h"
#include "access/read_write_mounts.h"
#include "common/page_aligned.h"

namespace vellumark {

PosixPlatformSource::~PosixPlatformSource() { Close(); }

namespace {

// Whether a descriptor's node is the one a path named: the same device for
// device nodes (another node of the same device is the same disk), the same
// file otherwise.
bool SameNode(const struct stat& named, const struct stat& opened) {
  if (S_ISBLK(named.st_mode) || S_ISBLK(opened.st_mode)) {
    return S_ISBLK(named.st_mode) && S_ISBLK(opened.st_mode) && named.st_rdev == opened.st_rdev;
  }
  return named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// pread until count bytes, the end of the source or an error; done counts
// the bytes read either way.
bool ReadFully(int fd, unsigned char* out, std::size_t count, std::int64_t offset, std::size_t& done) {
  done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd, out + done, count - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;  // end of the source
    done += static_cast<std::size_t>(got);
  }
  return true;
}

RefusedKind KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return RefusedKind::Pipe;
  if (S_ISSOCK(mode)) return RefusedKind::Socket;
  if (S_ISCHR(mode)) return RefusedKind::CharacterDevice;
  return RefusedKind::None;
}

}  // namespace

bool PosixPlatformSource::Refuse(OpenFailure failure) {
  openFailure_ = failure;
  return false;
}

bool PosixPlatformSource::Open(const std::string& path) {
  Close();
  openFailure_ = {};
  // Devices and sockets are looked at before opening, because opening some
  // of them acts on them (a serial line raises its modem lines, a tape
  // rewinds when closed again) and a socket cannot be opened at all (the
  // system would only say ENXIO).
  struct stat st {};
  const bool named = ::stat(path.c_str(), &st) == 0;
  if (named && (S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode))) {
    return Refuse({0, KindOf(st.st_mode)});
  }
  // O_RDONLY is the whole point: the source is the disk being rescued.
  // O_NONBLOCK because opening a pipe would otherwise wait for a writer; what
  // was opened is looked at before anything is read from it.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    // Only disks are the disk service's to hand over.
    const bool brokered = named && S_ISBLK(st.st_mode) && broker_ != nullptr && (error == EACCES || error == EPERM);
    if (!brokered) return Refuse({error, RefusedKind::None});
    fd = OpenThroughBroker(path, st, error);
    if (fd < 0) return false;
  }
  OpenFailure failure;
  if (::fstat(fd, &st) != 0) {
    failure.systemError = errno;
  } else if (S_ISDIR(st.st_mode)) {
    failure.systemError = EISDIR;
  } else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    failure.refused = KindOf(st.st_mode);
    if (failure.refused == RefusedKind::None) failure.systemError = ENODEV;
  } else {
    // Reads of a file or a disk may take their time; only the open must not.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) failure.systemError = errno;
  }
  if (failure.systemError != 0 || failure.refused != RefusedKind::None) {
    ::close(fd);
    return Refuse(failure);
  }
  fd_ = fd;
  position_ = 0;
  return true;
}

int PosixPlatformSource::OpenThroughBroker(const std::string& path, const struct stat& named, int ownError) {
  const DeviceBroker::Grant grant = broker_->OpenReadOnly(path);
  if (grant.fd < 0) {
    Refuse({ownError, RefusedKind::None, grant.refusal});
    return -1;
  }
  // Only a read-only descriptor of the very node asked for is taken: the
  // source must never be writable through it, and a service that handed over
  // another disk would have the wrong disk rescued.
  struct stat opened {};
  const int flags = ::fcntl(grant.fd, F_GETFL);
  if (::fstat(grant.fd, &opened) != 0 || !SameNode(named, opened) || flags < 0 || (flags & O_ACCMODE) != O_RDONLY ||
      ::fcntl(grant.fd, F_SETFD, FD_CLOEXEC) != 0) {
    ::close(grant.fd);
    Refuse({ownError, RefusedKind::None, AccessRefusal::NotPermitted});
    return -1;
  }
  return grant.fd;
}

bool PosixPlatformSource::IsBlockDevice() const {
  struct stat st {};
  return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISBLK(st.st_mode);
}

std::optional<std::int64_t> PosixPlatformSource::PartitionLength() {
  if (fd_ < 0) return std::nullopt;
  if (IsBlockDevice()) {
    std::uint64_t bytes = 0;
    if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) {
      openFailure_ = {errno, RefusedKind::None};
      return std::nullopt;
    }
    return static_cast<std::int64_t>(bytes);
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    openFailure_ = {errno, RefusedKind::None};
    return std::nullopt;
  }
  if (!S_ISREG(st.st_mode)) return std::nullopt;
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
  std::size_t done = 0;
  const bool ok = ReadFully(fd_, static_cast<unsigned char*>(destination), count, position_, done);
  position_ += static_cast<std::int64_t>(done);
  return ok ? static_cast<std::int64_t>(done) : -1;
}

std::int64_t PosixPlatformSource::ReadAt(void* destination, std::size_t count, std::int64_t offset) {
  if (fd_ < 0 || offset < 0) return -1;
  std::size_t done = 0;
  return ReadFully(fd_, static_cast<unsigned char*>(destination), count, offset, done) ? static_cast<std::int64_t>(done)
                                                                                       : -1;
}

void PosixPlatformSource::AdviseSequential() {
  if (fd_ >= 0) ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

void PosixPlatformSource::AdviseWillNeed(std::int64_t offset, std::int64_t count) {
  if (fd_ >= 0 && offset >= 0 && count > 0) ::posix_fadvise(fd_, offset, count, POSIX_FADV_WILLNEED);
}

std::unique_ptr<MappedBytes> PosixPlatformSource::Map(std::int64_t offset, std::int64_t count) {
  return MapFileRange(fd_, offset, count);
}

bool PosixPlatformSource::ReadMapped(MappedReader read, void* context) { return ReadMappedGuarded(read, context); }

std::int64_t PosixPlatformSource::ReadUncached(void* destination, std::size_t count, std::int64_t offset) {
  if (fd_ < 0 || offset < 0 || directFd_ == -2) return -1;
  if (directFd_ < 0) {
    // The open file itself again, so that no other file can stand in for
    // it under its path; read-only like the first.
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    directFd_ = ::open(self.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC);
    if (directFd_ < 0) {
      directFd_ = -2;
      return -1;
    }
  }
  // Uncached reads go straight into the buffer, which must start on a
  // boundary the device accepts: a page does for every device.
  PageAlignedBytes buffer(count);
  std::size_t done = 0;
  if (!ReadFully(directFd_, buffer.data(), count, offset, done)) return -1;
  std::memcpy(destination, buffer.data(), done);
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
  if (directFd_ >= 0) ::close(directFd_);
  fd_ = -1;
  directFd_ = -1;
  position_ = 0;
}

std::vector<std::string> PosixPlatformSource::ReadWriteMounts() {
  if (!IsOpen()) return {};
  // A block device is followed through its partitions and layers; an image
  // file is matched by identity, through the loop devices over it.
  const std::optional<std::uint64_t> device = DeviceNumber();
  return ReadWriteMountsOver(device, device ? std::nullopt : OpenFileId());
}

}  // namespace vellumark
