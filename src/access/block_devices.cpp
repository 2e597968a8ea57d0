#include "access/block_devices.h"

#include "access/mount_table.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace vellumark {
namespace {

namespace fs = std::filesystem;

std::string SizeText(std::int64_t bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
  return text;
}

std::map<std::string, std::string> MountPoints(const std::string& mounts) {
  std::map<std::string, std::string> byDevice;
  std::ifstream in(mounts);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string device, where;
    if (fields >> device >> where) byDevice.emplace(UnescapeMountField(device), UnescapeMountField(where));
  }
  return byDevice;
}

std::map<std::string, std::string> Labels(const std::string& byLabel) {
  std::map<std::string, std::string> byDevice;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(byLabel, error)) {
    const fs::path target = fs::weakly_canonical(entry.path(), error);
    if (!error) byDevice.emplace(target.filename().string(), UnescapeMountField(entry.path().filename().string()));
  }
  return byDevice;
}

}  // namespace

std::string BlockDevice::DisplayText() const {
  std::string text = path + "  " + SizeText(bytes);
  if (!label.empty()) text += "  " + label;
  if (!mountPoint.empty()) text += "  " + mountPoint;
  return text;
}

std::vector<BlockDevice> ListBlockDevices(const DeviceTables& tables) {
  std::vector<BlockDevice> devices;
  const auto mounts = MountPoints(tables.mounts);
  const auto labels = Labels(tables.byLabel);
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(tables.sysClassBlock, error)) {
    const std::string name = entry.path().filename().string();
    std::ifstream sizeFile(entry.path() / "size");
    std::int64_t sectors = 0;  // always counted in 512-byte units
    if (!(sizeFile >> sectors) || sectors <= 0) continue;
    BlockDevice device;
    device.path = (fs::path(tables.devDirectory) / name).string();
    device.bytes = sectors * 512;
    device.partition = fs::exists(entry.path() / "partition", error);
    if (auto it = labels.find(name); it != labels.end()) device.label = it->second;
    if (auto it = mounts.find(device.path); it != mounts.end()) device.mountPoint = it->second;
    devices.push_back(std::move(device));
  }
  std::sort(devices.begin(), devices.end(), [](const BlockDevice& a, const BlockDevice& b) { return a.path < b.path; });
  return devices;
}

std::string DevicePathOfEntry(const std::string& displayText) {
  return displayText.substr(0, displayText.find("  "));
}

}  // namespace vellumark
