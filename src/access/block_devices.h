#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vellumark {

// A disk or partition the system offers, for the drive list.
struct BlockDevice {
  std::string path;        // /dev/sdb1
  std::string model;       // the disk's model name, where the system knows it
  std::int64_t bytes = 0;
  std::string label;       // file-system label, where known
  std::string mountPoint;  // where it is mounted, where it is
  bool partition = false;

  // What the drive list shows: "/dev/sdb1  14.9 GiB  USBSTICK  /media/usb",
  // with the model after the size for a whole disk.
  std::string DisplayText() const;
};

// The devices of lsblk's JSON listing (--json --list --bytes with the
// columns PATH, MODEL, SIZE, LABEL, MOUNTPOINT and TYPE), sorted by path;
// empty devices (unused loop devices, empty card readers) are left out.
// Text that is no such listing gives none.
std::vector<BlockDevice> BlockDevicesOfListing(std::string_view json);

// The system's disks and partitions now, as lsblk lists them.
std::vector<BlockDevice> ListBlockDevices();

// The device path at the start of a drive-list entry.
std::string DevicePathOfEntry(const std::string& displayText);

// A length as the drive list shows it: "512 B", "128.0 MiB", "14.9 GiB".
std::string SizeText(std::int64_t bytes);

}  // namespace vellumark
