#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vellumark {

// How block devices nest: the whole disk a partition belongs to.
struct DeviceTopology {
  // Device number of the file system holding path.
  std::function<std::optional<std::uint64_t>(const std::string& path)> deviceOfPath;
  // Device number of the disk that contains a partition; none for a disk.
  std::function<std::optional<std::uint64_t>(std::uint64_t device)> parentDisk;
};

// The running system's topology, read from stat() and /sys/dev/block.
const DeviceTopology& SystemTopology();

// Whether writing at path would write onto the source being rescued: the
// path's file system lives on the opened partition itself or, when a whole
// disk was opened, on one of its partitions. An image-file source (no device)
// refuses nothing.
bool IsOnSourceDevice(const std::string& path, std::optional<std::uint64_t> sourceDevice,
                      const DeviceTopology& topology = SystemTopology());

}  // namespace vellumark
