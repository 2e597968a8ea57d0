#include "access/destination_rule.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace vellumark {
namespace {

std::optional<std::uint64_t> StatDevice(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_dev);
}

// /sys/dev/block/MAJ:MIN of a partition resolves to .../block/sda/sda1; the
// directory above it is the disk, whose "dev" file names its number.
std::optional<std::uint64_t> SysfsParentDisk(std::uint64_t device) {
  namespace fs = std::filesystem;
  const fs::path link = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::error_code error;
  const fs::path node = fs::canonical(link, error);
  if (error || !fs::exists(node / "partition", error)) return std::nullopt;
  std::ifstream in(node.parent_path() / "dev");
  unsigned major_ = 0, minor_ = 0;
  char colon = 0;
  if (!(in >> major_ >> colon >> minor_) || colon != ':') return std::nullopt;
  return static_cast<std::uint64_t>(makedev(major_, minor_));
}

}  // namespace

const DeviceTopology& SystemTopology() {
  static const DeviceTopology topology{&StatDevice, &SysfsParentDisk};
  return topology;
}

bool IsOnSourceDevice(const std::string& path, std::optional<std::uint64_t> sourceDevice,
                      const DeviceTopology& topology) {
  if (!sourceDevice) return false;
  const auto device = topology.deviceOfPath(path);
  if (!device) return false;
  if (*device == *sourceDevice) return true;
  const auto disk = topology.parentDisk(*device);
  return disk && *disk == *sourceDevice;
}

}  // namespace vellumark
