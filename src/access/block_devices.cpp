#include "access/block_devices.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>

namespace vellumark {
namespace {

// A column that lsblk leaves null where it knows nothing.
std::string TextOf(const nlohmann::json& device, const char* column) {
  const auto it = device.find(column);
  return it != device.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// Sizes are numbers from util-linux 2.33 on and strings before it.
std::int64_t BytesOf(const nlohmann::json& device) {
  const auto it = device.find("size");
  if (it == device.end()) return 0;
  if (it->is_number_integer()) return it->get<std::int64_t>();
  if (it->is_string()) {
    const std::string text = it->get<std::string>();
    std::int64_t bytes = 0;
    for (char c : text) {
      if (c < '0' || c > '9' || bytes > (INT64_MAX - 9) / 10) return 0;
      bytes = bytes * 10 + (c - '0');
    }
    return bytes;
  }
  return 0;
}

// lsblk names the columns' keys in lower case.
constexpr const char* kListing = "lsblk --json --list --bytes --output PATH,MODEL,SIZE,LABEL,MOUNTPOINT,TYPE 2>/dev/null";

}  // namespace

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

std::string BlockDevice::DisplayText() const {
  std::string text = path + "  " + SizeText(bytes);
  if (!model.empty()) text += "  " + model;
  if (!label.empty()) text += "  " + label;
  if (!mountPoint.empty()) text += "  " + mountPoint;
  return text;
}

std::vector<BlockDevice> BlockDevicesOfListing(std::string_view json) {
  std::vector<BlockDevice> devices;
  const nlohmann::json listing = nlohmann::json::parse(json, nullptr, /*allow_exceptions=*/false);
  if (!listing.is_object()) return devices;
  const auto list = listing.find("blockdevices");
  if (list == listing.end() || !list->is_array()) return devices;
  for (const nlohmann::json& entry : *list) {
    if (!entry.is_object()) continue;
    BlockDevice device;
    device.path = TextOf(entry, "path");
    device.bytes = BytesOf(entry);
    if (device.path.empty() || device.bytes <= 0) continue;
    // Models come padded with blanks from some drives' identify data.
    device.model = TextOf(entry, "model");
    device.model.erase(device.model.find_last_not_of(' ') + 1);
    device.label = TextOf(entry, "label");
    device.mountPoint = TextOf(entry, "mountpoint");
    device.partition = TextOf(entry, "type") == "part";
    devices.push_back(std::move(device));
  }
  std::sort(devices.begin(), devices.end(), [](const BlockDevice& a, const BlockDevice& b) { return a.path < b.path; });
  return devices;
}

std::vector<BlockDevice> ListBlockDevices() {
  const std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(kListing, "r"), ::pclose);
  if (!pipe) return {};
  std::string json;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;) json.append(buffer, got);
  return BlockDevicesOfListing(json);
}

std::string DevicePathOfEntry(const std::string& displayText) {
  return displayText.substr(0, displayText.find("  "));
}

}  // namespace vellumark
