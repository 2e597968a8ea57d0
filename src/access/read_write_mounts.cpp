#include "access/read_write_mounts.h"

#include "access/mount_table.h"

namespace vellumark {

std::vector<std::string> ReadWriteMountsOver(const SectorSource& source, const SystemView& view) {
  StorageReach read;
  if (const auto device = source.SourceDevice(); device && !source.IsImageFile()) {
    read = ReadReachOfDevice(*device, view);
  } else if (const auto file = source.SourceFile()) {
    read.files.push_back(*file);
  } else {
    return {};
  }
  std::vector<std::string> mounts;
  for (const MountEntry& mount : ReadMountInfo(view.mountInfo)) {
    // Only mounts of block devices can write to a disk or to an image
    // behind a loop device.
    if (!mount.readWrite || !mount.source.starts_with("/dev/")) continue;
    const auto facts = view.stat ? view.stat(mount.source) : std::nullopt;
    if (!facts || !facts->blockDevice) continue;
    if (WriteReachOfDevice(facts->rdev, view).Overlaps(read)) mounts.push_back(mount.mountPoint);
  }
  return mounts;
}

}  // namespace vellumark
