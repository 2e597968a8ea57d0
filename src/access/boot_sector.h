#pragma once

#include <cstdint>
#include <optional>

#include "access/platform_source.h"
#include "access/volume_geometry.h"

namespace vellumark {

inline constexpr int kBootSectorSize = 512;

// What a recognised FAT12/16, FAT32 or NTFS boot sector says about the volume.
struct BootSectorInfo {
  std::uint32_t BytesPerSector = 0;
  std::uint32_t SectorsPerCluster = 0;
  std::int32_t ClusterPhase = 0;
  std::uint8_t FileSystemType = kFileSystemOther;
};

// Reads the fields from the first 512 bytes of a volume. Returns nothing when
// none of the three labels is there, when sectors per cluster is zero, or when
// bytes per sector is not a power of two of at least 512.
std::optional<BootSectorInfo> ParseBootSector(const std::uint8_t* sector);

// Reads sector 0 of the open source directly (not through the read window)
// and parses it.
std::optional<BootSectorInfo> ProbeBootSector(PlatformSource& platform);

}  // namespace vellumark
