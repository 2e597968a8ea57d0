#include "access/destination_rule.h"

#include <gtest/gtest.h>

#include <map>

namespace vellumark {
namespace {

TEST(DestinationRule, RefusesTheOpenedPartitionAndThePartitionsOfAnOpenedDisk) {
  // Disk 0x800 holds partitions 0x801 and 0x802, disk 0x810 holds 0x811.
  static const std::map<std::string, std::uint64_t> pathDevice = {
      {"/sda1", 0x801}, {"/sda2", 0x802}, {"/sdb1", 0x811}, {"/sda", 0x800}};
  static const std::map<std::uint64_t, std::uint64_t> parentDisk = {{0x801, 0x800}, {0x802, 0x800}, {0x811, 0x810}};
  const auto lookup = [](const auto& map, const auto& key) {
    const auto it = map.find(key);
    return it == map.end() ? std::nullopt : std::optional<std::uint64_t>(it->second);
  };
  const DeviceTopology topology{[&](const std::string& path) { return lookup(pathDevice, path); },
                                [&](std::uint64_t device) { return lookup(parentDisk, device); }};
  const struct { const char* path; std::optional<std::uint64_t> source; bool refused; } cases[] = {
      {"/sda1", 0x801, true},          // the opened partition itself
      {"/sda1", 0x800, true},          // a partition of the opened disk
      {"/sda2", 0x800, true},
      {"/sdb1", 0x800, false},         // another disk's partition
      {"/sda2", 0x801, false},         // a sibling of the opened partition
      {"/sda", 0x801, false},          // the disk holding the opened partition
      {"/sda1", std::nullopt, false},  // an image file has no device
      {"/nowhere", 0x801, false},      // the path's device cannot be found
      {"/nowhere", 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsOnSourceDevice(c.path, c.source, topology), c.refused) << c.path << " on " << c.source.value_or(~0ull);
  }
}

}  // namespace
}  // namespace vellumark
