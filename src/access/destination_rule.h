#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "access/device_stack.h"

namespace vellumark {

class SectorSource;

// Why a destination was refused.
enum class DestinationRefusal : std::uint8_t {
  None,
  OnSource,    // writing there would write onto the source being read
  Unresolved,  // a FUSE file system whose server could not be read: it may lie on the source
};

// The one place that decides whether a path may be written while a source is
// open. Writing is refused when it would reach any byte the source is read
// from: the source file itself through any name or link, the image file
// behind a loop device being read, or a file system that lies on the source
// device in any way (the same device, a partition of it or the disk holding
// it, or stacked on it through LVM, LUKS, RAID or a loop device, or kept by
// a FUSE server in the source or in a file on it). Where a FUSE file system's
// bytes cannot be traced, writing there is refused too: it could be the source.
class DestinationRule {
 public:
  // sourceDevice: the device number of a block device being read; sourceFile:
  // the identity of the file that was opened (an image file, or the node).
  DestinationRule(std::optional<std::uint64_t> sourceDevice, std::optional<FileId> sourceFile,
                  const SystemView& view = SystemView::Live());
  explicit DestinationRule(const SectorSource& source, const SystemView& view = SystemView::Live());

  // Files are to be created in folder.
  DestinationRefusal CheckFolder(const std::string& folder) const;
  // The file at path is to be created or replaced.
  DestinationRefusal CheckFile(const std::string& path) const;

 private:
  DestinationRefusal Verdict(const StorageReach& target) const;

  const SystemView& view_;
  StorageReach source_;
};

}  // namespace vellumark
