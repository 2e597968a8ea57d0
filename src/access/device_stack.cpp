#include "access/device_stack.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "access/fuse_servers.h"
#include "access/mount_table.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

// Loop devices over files on loop devices are legal; a chain this deep is
// not a real setup, and the bound keeps a crafted one from recursing forever.
constexpr int kDeepestStack = 16;

std::optional<PathFacts> LiveStat(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  PathFacts facts;
  facts.device = st.st_dev;
  facts.inode = st.st_ino;
  facts.rdev = st.st_rdev;
  facts.blockDevice = S_ISBLK(st.st_mode);
  facts.regularFile = S_ISREG(st.st_mode);
  facts.directory = S_ISDIR(st.st_mode);
  return facts;
}

std::string NumberText(std::uint64_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

// A sysfs "dev" file: "8:17".
std::optional<std::uint64_t> ReadDeviceFile(const fs::path& path) {
  std::ifstream in(path);
  unsigned major_ = 0, minor_ = 0;
  char colon = 0;
  if (!(in >> major_ >> colon >> minor_) || colon != ':') return std::nullopt;
  return static_cast<std::uint64_t>(makedev(major_, minor_));
}

// The device's own folder in sysfs (…/block/sda/sda1), none for a number no
// block device has (an anonymous device of btrfs, tmpfs, a network share).
std::optional<fs::path> SysfsNode(std::uint64_t device, const SystemView& view) {
  std::error_code error;
  const fs::path node = fs::canonical(fs::path(view.sysDevBlock) / NumberText(device), error);
  if (error) return std::nullopt;
  return node;
}

// The file behind a loop device, as the kernel names it.
std::optional<std::string> BackingFile(const fs::path& node) {
  std::ifstream in(node / "loop" / "backing_file");
  std::string path;
  if (!std::getline(in, path) || path.empty()) return std::nullopt;
  return path;
}

bool PathIsUnder(const std::string& path, const std::string& mountPoint);
std::optional<std::uint64_t> DeviceOfMountSource(const std::string& source, const SystemView& view);
const MountEntry* MountHolding(std::uint64_t fsDevice, const std::string& canonicalPath,
                               const std::vector<MountEntry>& mounts);

class ReachWalk {
 public:
  ReachWalk(const SystemView& view, bool intoBackingFileSystems)
      : view_(view), intoBackingFileSystems_(intoBackingFileSystems) {}

  void Device(std::uint64_t device, int depth) {
    if (depth > kDeepestStack || !visited_.insert(device).second) return;
    const auto node = SysfsNode(device, view_);
    if (!node) {
      reach_.pieces.push_back({device, std::nullopt});
      return;
    }
    std::error_code error;
    bool layered = false;
    for (const auto& slave : fs::directory_iterator(*node / "slaves", error)) {
      if (const auto lower = ReadDeviceFile(fs::path(view_.sysClassBlock) / slave.path().filename() / "dev")) {
        layered = true;
        Device(*lower, depth + 1);
      }
    }
    if (layered) return;
    if (fs::exists(*node / "partition", error)) {
      const auto disk = ReadDeviceFile(node->parent_path() / "dev");
      if (!disk) {
        reach_.pieces.push_back({device, std::nullopt});
        return;
      }
      reach_.pieces.push_back({*disk, device});
      Backing(node->parent_path(), depth);  // a partition of a loop device
      return;
    }
    reach_.pieces.push_back({device, std::nullopt});
    Backing(*node, depth);
  }

  void Folder(const std::string& folder, int depth) {
    if (depth > kDeepestStack) return;
    const auto facts = view_.stat(folder);
    if (!facts) return;
    std::error_code error;
    const std::string canonical = fs::weakly_canonical(folder, error).string();
    FileSystem(facts->device, error ? folder : canonical, depth);
  }

  StorageReach Take() { return std::move(reach_); }

 private:
  // The file system with device number fsDevice, which holds path.
  void FileSystem(std::uint64_t fsDevice, const std::string& path, int depth) {
    if (depth > kDeepestStack) return;
    // The number itself, even where no table explains it (no sysfs in a
    // container): a source device of that number is this file system's.
    reach_.pieces.push_back({fsDevice, std::nullopt});
    if (SysfsNode(fsDevice, view_)) {
      Device(fsDevice, depth + 1);
      return;
    }
    const std::vector<MountEntry> mounts = ReadMountInfo(view_.mountInfo);
    const MountEntry* mount = MountHolding(fsDevice, path, mounts);
    if (mount == nullptr) return;
    if (IsFuseType(mount->fileSystemType)) {
      Fuse(*mount, depth);
    } else if (const auto device = DeviceOfMountSource(mount->source, view_)) {
      Device(*device, depth + 1);
    }
  }

  // A FUSE file system keeps its bytes wherever its server puts them: in
  // what the mount source names, when it names a path, and in whatever the
  // server holds open.
  void Fuse(const MountEntry& mount, int depth) {
    if (!visitedFuse_.insert(mount.device).second) return;  // a server holding files of its own mount
    bool resolved = false;
    if (!mount.source.empty() && mount.source.front() == '/') {
      if (const auto facts = view_.stat(mount.source)) resolved = Held(*facts, mount.source, depth);
    }
    const FuseHoldings holdings = FindFuseHoldings(mount.device, view_);
    if (holdings.found) {
      resolved = true;
      for (const HeldFile& held : holdings.held) Held(held.facts, held.path, depth);
    }
    if (!resolved) reach_.unresolved = true;
  }

  // What a FUSE server reads and writes: false for a kind of node that
  // holds no bytes of a file system (a pipe, a terminal).
  bool Held(const PathFacts& facts, const std::string& path, int depth) {
    if (facts.blockDevice) {
      Device(facts.rdev, depth + 1);
    } else if (facts.regularFile) {
      reach_.files.push_back({facts.device, facts.inode});
      if (intoBackingFileSystems_) FileSystem(facts.device, path, depth + 1);
    } else if (facts.directory) {
      FileSystem(facts.device, path, depth + 1);
    } else {
      return false;
    }
    return true;
  }

  void Backing(const fs::path& node, int depth) {
    const auto file = BackingFile(node);
    if (!file) return;
    const auto facts = view_.stat(*file);
    if (!facts) return;  // the kernel marks a deleted backing file; nothing to compare
    reach_.files.push_back({facts->device, facts->inode});
    if (intoBackingFileSystems_) Folder(fs::path(*file).parent_path().string(), depth + 1);
  }

  const SystemView& view_;
  const bool intoBackingFileSystems_;
  std::set<std::uint64_t> visited_;
  std::set<std::uint64_t> visitedFuse_;
  StorageReach reach_;
};

bool PathIsUnder(const std::string& path, const std::string& mountPoint) {
  if (mountPoint == "/") return !path.empty() && path.front() == '/';
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The device a mount's source names: /dev/sdb1, or a link such as
// /dev/mapper/root or /dev/disk/by-uuid/… that leads to one.
std::optional<std::uint64_t> DeviceOfMountSource(const std::string& source, const SystemView& view) {
  if (source.rfind("/dev/", 0) != 0) return std::nullopt;
  const std::string path = view.devDirectory + source.substr(4);
  if (const auto facts = view.stat(path); facts && facts->blockDevice) return facts->rdev;
  // Without a device node to ask, the kernel's name of the device is the last
  // part of the path once links are followed.
  std::error_code error;
  const fs::path resolved = fs::weakly_canonical(path, error);
  if (error) return std::nullopt;
  return ReadDeviceFile(fs::path(view.sysClassBlock) / resolved.filename() / "dev");
}

// The mount of that number holding the path; failing that (a btrfs
// subvolume has a number of its own), the innermost mount over the path.
const MountEntry* MountHolding(std::uint64_t fsDevice, const std::string& canonicalPath,
                               const std::vector<MountEntry>& mounts) {
  const MountEntry* best = nullptr;
  for (const bool sameNumber : {true, false}) {
    for (const MountEntry& mount : mounts) {
      if (sameNumber && mount.device != fsDevice) continue;
      if (!PathIsUnder(canonicalPath, mount.mountPoint)) continue;
      if (best == nullptr || mount.mountPoint.size() >= best->mountPoint.size()) best = &mount;
    }
    if (best != nullptr) break;
  }
  return best;
}

}  // namespace

const SystemView& SystemView::Live() {
  static const SystemView view = [] {
    SystemView live;
    live.stat = &LiveStat;
    return live;
  }();
  return view;
}

bool StorageReach::Overlaps(const StorageReach& other) const {
  for (const StoragePiece& a : pieces) {
    for (const StoragePiece& b : other.pieces) {
      if (a.disk == b.disk && (!a.partition || !b.partition || *a.partition == *b.partition)) return true;
    }
  }
  return std::any_of(files.begin(), files.end(), [&](const FileId& file) {
    return std::find(other.files.begin(), other.files.end(), file) != other.files.end();
  });
}

std::optional<std::uint64_t> FileSystemBlockDevice(std::uint64_t fsDevice, const std::string& canonicalPath,
                                                   const SystemView& view) {
  if (SysfsNode(fsDevice, view)) return fsDevice;
  const std::vector<MountEntry> mounts = ReadMountInfo(view.mountInfo);
  const MountEntry* mount = MountHolding(fsDevice, canonicalPath, mounts);
  if (mount == nullptr) return std::nullopt;
  return DeviceOfMountSource(mount->source, view);
}

StorageReach ReadReachOfDevice(std::uint64_t device, const SystemView& view) {
  ReachWalk walk(view, false);
  walk.Device(device, 0);
  return walk.Take();
}

StorageReach WriteReachOfDevice(std::uint64_t device, const SystemView& view) {
  ReachWalk walk(view, true);
  walk.Device(device, 0);
  return walk.Take();
}

StorageReach WriteReachOfFolder(const std::string& folder, const SystemView& view) {
  ReachWalk walk(view, true);
  walk.Folder(folder, 0);
  return walk.Take();
}

}  // namespace vellumark
