#include "access/read_write_mounts.h"

#include "access/mount_table.h"

namespace vellumark {

std::vector<std::string> ReadWriteMountsOver(std::optional<std::uint64_t> device, std::optional<FileId> file,
                                             const SystemView& view) {
  StorageReach read;
  if (device) {
    read = ReadReachOfDevice(*device, view);
  } else if (file) {
    read.files.push_back(*file);
  } else {
    return {};
  }
  std::vector<std::string> mounts;
  for (const MountEntry& mount : ReadMountInfo(view.mountInfo)) {
    if (!mount.readWrite) continue;
    // Only file systems on a block device write to a disk, or to an image
    // behind a loop device.
    const auto block = FileSystemBlockDevice(mount.device, mount.mountPoint, view);
    if (block && WriteReachOfDevice(*block, view).Overlaps(read)) mounts.push_back(mount.mountPoint);
  }
  return mounts;
}

}  // namespace vellumark
