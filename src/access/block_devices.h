#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumark {

// A disk or partition the system offers, for the drive list.
struct BlockDevice {
  std::string path;        // /dev/sdb1
  std::int64_t bytes = 0;
  std::string label;       // file-system label, where known
  std::string mountPoint;  // where it is mounted, where it is
  bool partition = false;

  // What the drive list shows: "/dev/sdb1  14.9 GiB  USBSTICK  /media/usb".
  std::string DisplayText() const;
};

// Where the system describes its devices; tests point these at a fake tree.
struct DeviceTables {
  std::string sysClassBlock = "/sys/class/block";
  std::string byLabel = "/dev/disk/by-label";
  std::string mounts = "/proc/self/mounts";
  std::string devDirectory = "/dev";
};

// The system's disks and partitions, by name; empty devices (unused loop
// devices, empty card readers) are left out.
std::vector<BlockDevice> ListBlockDevices(const DeviceTables& tables = {});

// The device path at the start of a drive-list entry.
std::string DevicePathOfEntry(const std::string& displayText);

}  // namespace vellumark
