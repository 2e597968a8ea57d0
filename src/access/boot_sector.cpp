#include "access/boot_sector.h"

#include <bit>
#include <cstring>

#include "common/byte_order.h"

namespace vellumark {
namespace {

bool LabelAt(const std::uint8_t* sector, int offset, const char (&label)[9]) {
  return std::memcmp(sector + offset, label, 8) == 0;
}

}  // namespace

std::optional<BootSectorInfo> ParseBootSector(const std::uint8_t* sector) {
  BootSectorInfo info;
  std::uint32_t fatSize = 0;
  if (LabelAt(sector, 54, "FAT12   ") || LabelAt(sector, 54, "FAT16   ")) {
    info.FileSystemType = kFileSystemFat;
    fatSize = LoadLe16(sector + 22);
  } else if (LabelAt(sector, 82, "FAT32   ")) {
    info.FileSystemType = kFileSystemFat32;
    fatSize = LoadLe32(sector + 36);
  } else if (LabelAt(sector, 3, "NTFS    ")) {
    info.FileSystemType = kFileSystemNtfs;
  } else {
    return std::nullopt;
  }

  info.BytesPerSector = LoadLe16(sector + 11);
  info.SectorsPerCluster = sector[13];
  // Both are divisors below and in the sector count, and every reader sizes
  // its sector buffer from the first: a zero, or a sector size no disk has
  // (below 512 or not a power of two), means the label is a coincidence or
  // the sector is damaged, so trust none of it.
  if (info.SectorsPerCluster == 0 || info.BytesPerSector < 512 || !std::has_single_bit(info.BytesPerSector)) {
    return std::nullopt;
  }

  if (info.FileSystemType == kFileSystemNtfs) {
    info.ClusterPhase = 0;  // NTFS clusters are counted from the volume start
    return info;
  }

  const std::int64_t reserved = LoadLe16(sector + 14);
  const std::int64_t fatCount = sector[16];
  const std::int64_t rootEntries = LoadLe16(sector + 17);
  const std::int64_t rootSectors = rootEntries * 32 / info.BytesPerSector;
  // 64-bit so that a corrupt FAT size cannot wrap into a negative phase.
  const std::int64_t firstDataSector = reserved + fatCount * fatSize + rootSectors;
  info.ClusterPhase = static_cast<std::int32_t>(firstDataSector % info.SectorsPerCluster);
  return info;
}

std::optional<BootSectorInfo> ProbeBootSector(PlatformSource& platform) {
  std::uint8_t sector[kBootSectorSize];
  platform.Seek(0, SeekOrigin::Begin);
  if (platform.Read(sector, sizeof sector) != kBootSectorSize) return std::nullopt;
  return ParseBootSector(sector);
}

}  // namespace vellumark
