#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "access/platform_source.h"

namespace vellumark {

// An in-memory stand-in for disks and image files, for tests and fuzzing.
// Paths name byte buffers; reads that touch a chosen range fail, so that the
// behaviour around bad sectors can be exercised without damaged hardware.
class MemoryPlatformSource final : public PlatformSource {
 public:
  struct Entry {
    std::vector<std::uint8_t> bytes;
    bool lengthQueryFails = false;
    std::optional<std::uint32_t> sectorSize;  // as a block device reports it
    std::optional<std::uint64_t> deviceNumber;  // set for a stand-in block device
    std::optional<FileId> fileId;               // set to stand for a real file
    // A source longer than its bytes, as a sparse file is: past the bytes it
    // reads as zeros. Lets a test open a petabyte volume in a few kilobytes.
    std::optional<std::int64_t> sparseLength;
    // Stands for an image file the platform maps into memory: Map serves
    // ranges of the stored bytes that no failing read overlaps.
    bool mappable = false;
    // The mount points the system would name as mounted read-write over it.
    std::vector<std::string> readWriteMounts;

    std::int64_t Length() const {
      return std::max(sparseLength.value_or(0), static_cast<std::int64_t>(bytes.size()));
    }
  };

  // Adds (or replaces) the source named path and returns it for adjusting.
  Entry& Add(const std::string& path, std::vector<std::uint8_t> bytes);
  Entry* Find(const std::string& path);

  // Every read that overlaps [offset, offset + length) of any source fails,
  // leaving the caller's buffer scribbled over.
  void FailReads(std::int64_t offset, std::int64_t length);
  void ClearFailures() { failures_.clear(); }
  // From now on every ReadMapped reports that a mapped page failed on the
  // way, as when the file is cut shorter after it was mapped.
  void FailMappedReads() { mappedReadsFail_ = true; }
  // Number of ranges mapped so far.
  int MapCalls() const { return mapCalls_; }
  // The ranges AdviseWillNeed was told of, as offset and length, in order.
  // Read them once the reader that advises has ended.
  const std::vector<std::pair<std::int64_t, std::int64_t>>& Advised() const { return advised_; }

  // Number of Read calls so far, to see how many system reads an access costs.
  int ReadCalls() const { return readCalls_; }
  // Of those, the ones that failed, to see how often bad sectors are tried.
  int FailedReadCalls() const { return failedReadCalls_; }

  bool Open(const std::string& path) override;
  OpenFailure LastOpenFailure() const override { return openFailure_; }
  std::optional<std::int64_t> PartitionLength() override;
  std::optional<std::uint32_t> PartitionSectorSize() override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Read(void* destination, std::size_t count) override;
  std::int64_t ReadAt(void* destination, std::size_t count, std::int64_t offset) override;
  void AdviseWillNeed(std::int64_t offset, std::int64_t count) override { advised_.emplace_back(offset, count); }
  std::unique_ptr<MappedBytes> Map(std::int64_t offset, std::int64_t count) override;
  bool ReadMapped(MappedReader read, void* context) override {
    read(context);
    return !mappedReadsFail_;
  }
  void Close() override;
  bool IsOpen() const override { return open_ != nullptr; }
  std::optional<std::uint64_t> DeviceNumber() override { return open_ ? open_->deviceNumber : std::nullopt; }
  std::optional<FileId> OpenFileId() override { return open_ ? open_->fileId : std::nullopt; }
  std::vector<std::string> ReadWriteMounts() override {
    return open_ ? open_->readWriteMounts : std::vector<std::string>{};
  }

 private:
  struct Range {
    std::int64_t offset;
    std::int64_t length;
  };

  // Whether [offset, offset + count) overlaps a range whose reads fail.
  bool Fails(std::int64_t offset, std::int64_t count) const;

  std::map<std::string, Entry> entries_;
  std::vector<Range> failures_;
  Entry* open_ = nullptr;
  OpenFailure openFailure_;
  std::int64_t position_ = 0;
  // Counted from the search's reader thread too.
  std::atomic<int> readCalls_ = 0;
  std::atomic<int> failedReadCalls_ = 0;
  std::atomic<int> mapCalls_ = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> advised_;
  bool mappedReadsFail_ = false;
};

}  // namespace vellumark
