#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "access/device_stack.h"

namespace vellumark {

enum class SeekOrigin { Begin, End };

// The operating system's raw access to a partition or an image file: the six
// operations the sector source needs. Everything is read-only; there is
// deliberately no way to write through this interface.
class PlatformSource {
 public:
  virtual ~PlatformSource() = default;

  // Opens path for shared, read-only access, closing whatever was open.
  virtual bool Open(const std::string& path) = 0;
  // Length in bytes of the open partition (or file).
  virtual std::optional<std::int64_t> PartitionLength() = 0;
  // Logical sector size the system reports for the open partition; none for
  // a plain file or when the system cannot tell.
  virtual std::optional<std::uint32_t> PartitionSectorSize() = 0;
  // Absolute positioning; returns the new position or -1.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  // Reads up to count bytes at the current position and advances past them.
  // Returns the bytes read (fewer only at the end of the source) or -1.
  virtual std::int64_t Read(void* destination, std::size_t count) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  // The device number of an open block device, so that writing onto the
  // device being read can be refused; none for an image file.
  virtual std::optional<std::uint64_t> DeviceNumber() = 0;
  // Which file is open, so that writing onto it under another name or
  // through a link can be refused too.
  virtual std::optional<FileId> OpenFileId() = 0;
};

}  // namespace vellumark
