#pragma once

#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vellumark {

// What stat() tells of a path, following links.
struct PathFacts {
  std::uint64_t device = 0;  // the file system holding it
  std::uint64_t inode = 0;
  std::uint64_t rdev = 0;    // the device a block special file stands for
  bool blockDevice = false;
  bool regularFile = false;
  bool directory = false;
};

// A file by identity, whichever name or link reaches it.
struct FileId {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;

  friend auto operator<=>(const FileId&, const FileId&) = default;
};

// Where the system describes its storage. Tests point the paths at fixture
// trees and stat at a table.
struct SystemView {
  std::string mountInfo = "/proc/self/mountinfo";
  std::string sysDevBlock = "/sys/dev/block";
  std::string sysClassBlock = "/sys/class/block";
  std::string devDirectory = "/dev";
  // Where processes are listed: the servers of FUSE file systems are found
  // by the descriptors they hold.
  std::string procDirectory = "/proc";
  std::function<std::optional<PathFacts>(const std::string& path)> stat;

  // The running system, through stat(2).
  static const SystemView& Live();
};

// A stretch of physical storage: a whole disk, or one partition of it.
struct StoragePiece {
  std::uint64_t disk = 0;
  std::optional<std::uint64_t> partition;  // none: the whole disk
};

// Everything some reading or writing reaches: the pieces of disk at the
// bottom of every device-mapper (LVM, LUKS), RAID and partition layer, and
// the image files behind loop devices on the way.
struct StorageReach {
  std::vector<StoragePiece> pieces;
  std::vector<FileId> files;
  // A FUSE file system on the way whose server could not be found or read:
  // its bytes may lie anywhere, the source included.
  bool unresolved = false;

  // Whether the two touch the same bytes: a disk and any of its partitions,
  // the same partition, or the same file.
  bool Overlaps(const StorageReach& other) const;
};

// What reading the block device reads: the bottom pieces and the image files
// behind loop devices. The file systems holding those image files are not
// read, so writing elsewhere on them is harmless.
StorageReach ReadReachOfDevice(std::uint64_t device, const SystemView& view = SystemView::Live());

// What writing to the block device writes: the bottom pieces, the image files
// behind loop devices and, beneath each such file, the storage of the file
// system holding it.
StorageReach WriteReachOfDevice(std::uint64_t device, const SystemView& view = SystemView::Live());

// What writing a file into folder writes: the storage of the file system
// holding it. A file system with no block device beneath it (tmpfs, a network
// share) reaches nothing local. A FUSE file system reaches what its mount
// source names (an image file, a device, a folder) and whatever its server
// holds open.
StorageReach WriteReachOfFolder(const std::string& folder, const SystemView& view = SystemView::Live());

// The block device holding the file system with device number fsDevice, at
// the canonical path. Most file systems report their block device as their
// device number; btrfs reports an anonymous number, and so do its
// subvolumes, so the mount table's source names the device instead.
std::optional<std::uint64_t> FileSystemBlockDevice(std::uint64_t fsDevice, const std::string& canonicalPath,
                                                   const SystemView& view = SystemView::Live());

}  // namespace vellumark
