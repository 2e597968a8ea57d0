#pragma once

#include <cstdint>

namespace vellumark {

enum FileSystemType : std::uint8_t {
  kFileSystemFat = 0,    // FAT12 or FAT16
  kFileSystemFat32 = 1,
  kFileSystemNtfs = 2,
  kFileSystemOther = 3,  // boot sector not recognised
};

// Geometry of the open source. Always copied whole.
struct VolumeGeometry {
  std::uint32_t BytesPerSector = 512;
  std::int64_t LastSector = -1;          // sector count minus one
  std::uint32_t SectorsPerCluster = 1;
  std::int32_t ClusterPhase = -1;        // -1: the deep scan infers it
  std::uint8_t FileSystemType = kFileSystemOther;

  friend bool operator==(const VolumeGeometry&, const VolumeGeometry&) = default;
};

const char* FileSystemTypeName(std::uint8_t type);

}  // namespace vellumark
