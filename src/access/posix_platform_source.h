#pragma once

#include <sys/stat.h>

#include "access/device_broker.h"
#include "access/platform_source.h"

namespace vellumark {

// Block devices and image files through open(O_RDONLY) and pread. A device
// the process may not open is asked of the broker, when there is one.
class PosixPlatformSource final : public PlatformSource {
 public:
  explicit PosixPlatformSource(DeviceBroker* broker = nullptr) : broker_(broker) {}
  ~PosixPlatformSource() override;
  PosixPlatformSource(const PosixPlatformSource&) = delete;
  PosixPlatformSource& operator=(const PosixPlatformSource&) = delete;

  bool Open(const std::string& path) override;
  OpenFailure LastOpenFailure() const override { return openFailure_; }
  std::optional<std::int64_t> PartitionLength() override;
  std::optional<std::uint32_t> PartitionSectorSize() override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Read(void* destination, std::size_t count) override;
  std::int64_t ReadAt(void* destination, std::size_t count, std::int64_t offset) override;
  void AdviseSequential() override;
  void AdviseWillNeed(std::int64_t offset, std::int64_t count) override;
  // Image files only: a device is read, never mapped.
  std::unique_ptr<MappedBytes> Map(std::int64_t offset, std::int64_t count) override;
  bool ReadMapped(MappedReader read, void* context) override;
  // Through a second, read-only descriptor of the open file that bypasses
  // the cache (O_DIRECT), opened when first needed; -1 where the file system
  // or the device takes no such reads.
  std::int64_t ReadUncached(void* destination, std::size_t count, std::int64_t offset) override;
  void Close() override;
  bool IsOpen() const override { return fd_ >= 0; }
  std::optional<std::uint64_t> DeviceNumber() override;
  std::optional<FileId> OpenFileId() override;
  std::vector<std::string> ReadWriteMounts() override;

 private:
  bool IsBlockDevice() const;
  bool Refuse(OpenFailure failure);
  // The broker's descriptor of the node named sees, or -1 with the failure
  // noted.
  int OpenThroughBroker(const std::string& path, const struct stat& named, int ownError);

  DeviceBroker* broker_;

  int fd_ = -1;
  int directFd_ = -1;  // -1 not opened yet, -2 tried and refused
  std::int64_t position_ = 0;
  OpenFailure openFailure_;
};

}  // namespace vellumark
