// The drive list's devices from lsblk's JSON listing.
#include "access/block_devices.h"

#include <gtest/gtest.h>

namespace vellumark {
namespace {

// The shape util-linux 2.38 prints for --json --list --bytes, entries out of
// order, with what older versions and odd drives give.
constexpr std::string_view kListing = R"({
   "blockdevices": [
      {"path":"/dev/sdb1", "model":null, "size":16008609792, "label":"USBSTICK", "mountpoint":"/media/usb stick", "type":"part"},
      {"path":"/dev/loop3", "model":null, "size":0, "label":null, "mountpoint":null, "type":"loop"},
      {"path":"/dev/sdb", "model":"SanDisk Ultra   ", "size":16008609792, "label":null, "mountpoint":null, "type":"disk"},
      {"path":"/dev/sr0", "model":"DVD-ROM", "size":"1073741824", "label":"CAF\u00c9", "mountpoint":null, "type":"rom"},
      {"path":"/dev/sdc", "model":"Card Reader", "size":"0", "label":null, "mountpoint":null, "type":"disk"},
      {"model":"no path", "size":512, "type":"disk"}
   ]
})";

TEST(BlockDevicesOfListing, ReadsEachColumnAndSortsByPath) {
  const std::vector<BlockDevice> devices = BlockDevicesOfListing(kListing);
  ASSERT_EQ(devices.size(), 3u);  // the empty loop device and card reader and the nameless entry left out
  const struct {
    const char* path; const char* model; std::int64_t bytes; const char* label; const char* mountPoint; bool partition;
    const char* shown;
  } expected[] = {
      {"/dev/sdb", "SanDisk Ultra", 16008609792, "", "", false, "/dev/sdb  14.9 GiB  SanDisk Ultra"},
      {"/dev/sdb1", "", 16008609792, "USBSTICK", "/media/usb stick", true, "/dev/sdb1  14.9 GiB  USBSTICK  /media/usb stick"},
      {"/dev/sr0", "DVD-ROM", 1073741824, "CAF\xC3\x89", "", false, "/dev/sr0  1.0 GiB  DVD-ROM  CAF\xC3\x89"},
  };
  for (std::size_t i = 0; i < devices.size(); ++i) {
    SCOPED_TRACE(expected[i].path);
    EXPECT_EQ(devices[i].path, expected[i].path);
    EXPECT_EQ(devices[i].model, expected[i].model);
    EXPECT_EQ(devices[i].bytes, expected[i].bytes);
    EXPECT_EQ(devices[i].label, expected[i].label);
    EXPECT_EQ(devices[i].mountPoint, expected[i].mountPoint);
    EXPECT_EQ(devices[i].partition, expected[i].partition);
    EXPECT_EQ(devices[i].DisplayText(), expected[i].shown);
    EXPECT_EQ(DevicePathOfEntry(devices[i].DisplayText()), expected[i].path);
  }
}

TEST(BlockDevicesOfListing, AnythingElseListsNothing) {
  for (std::string_view text : {"", "lsblk: unknown column: PATH", "{\"blockdevices\": {}}", "[1, 2]",
                                "{\"blockdevices\": [1, \"x\", null]}", "{\"blockdevices\": [{\"path\":",
                                "{\"blockdevices\": [{\"path\":\"/dev/sda\", \"size\":\"99999999999999999999999\"}]}"}) {
    EXPECT_TRUE(BlockDevicesOfListing(text).empty()) << text;
  }
}

// The real lsblk of this system: whatever it lists is a device node with a
// size, and its entry leads back to it.
TEST(ListBlockDevices, ListsTheSystemsDevices) {
  for (const BlockDevice& device : ListBlockDevices()) {
    EXPECT_EQ(device.path.rfind("/dev/", 0), 0u) << device.path;
    EXPECT_GT(device.bytes, 0);
    EXPECT_EQ(DevicePathOfEntry(device.DisplayText()), device.path);
  }
}

}  // namespace
}  // namespace vellumark
