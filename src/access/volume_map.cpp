#include "access/volume_map.h"

#include <cstdint>
#include <set>

#include "formats/ext4/ext4_directory.h"
#include "formats/fat/exfat_directory.h"
#include "formats/fat/fat_directory.h"
#include "formats/ntfs/mft_record.h"
#include "formats/partitions/partition_table.h"

namespace vellumark {

namespace {

constexpr int kMostExtendedRecords = 128;
constexpr std::uint64_t kLargestGptArray = 1 << 20;
// A GPT entry array for 128 entries of 128 bytes: what sgdisk, parted and
// Windows write.
constexpr std::size_t kProbeBytes = 4096;

// A layout from byte measures: the volume at firstSector, its clusters of
// clusterBytes starting baseBytes into it.
VolumeRegion Laid(VolumeKind kind, std::int64_t firstSector, std::int64_t lastSector, std::int64_t sectorBytes,
                  std::uint64_t clusterBytes, std::uint64_t baseBytes, std::uint32_t firstClusterNumber) {
  VolumeRegion region;
  region.kind = kind;
  region.firstSector = firstSector;
  region.lastSector = lastSector;
  region.sectorsPerCluster = static_cast<std::uint32_t>(std::max<std::uint64_t>(1, clusterBytes / sectorBytes));
  region.clusterBase = firstSector + static_cast<std::int64_t>(baseBytes / sectorBytes);
  region.firstClusterNumber = firstClusterNumber;
  region.phase = static_cast<std::int32_t>(region.clusterBase % region.sectorsPerCluster);
  return region;
}

void AddPartition(SectorSource& source, std::int64_t first, std::int64_t last, std::vector<VolumeRegion>& regions) {
  const std::int64_t sourceLast = source.ScanGeometry().LastSector;
  if (first <= 0 || first > sourceLast || last < first) return;
  if (const auto region = ProbeVolumeAt(source, first, std::min(last, sourceLast))) regions.push_back(*region);
}

void WalkExtended(SectorSource& source, std::uint64_t extended, std::vector<VolumeRegion>& regions) {
  std::set<std::uint64_t> seen;
  std::uint64_t record = extended;
  for (int count = 0; count < kMostExtendedRecords && seen.insert(record).second; ++count) {
    const auto bytes = ReadSourceBytes(source, static_cast<std::int64_t>(record), 512);
    if (!bytes) return;
    const auto ebr = ParseExtendedRecord(ByteView(bytes->data(), bytes->size()));
    if (!ebr) return;
    if (ebr->logical) {
      const auto first = static_cast<std::int64_t>(record + ebr->logical->firstLba);
      AddPartition(source, first, first + ebr->logical->sectorCount - 1, regions);
    }
    if (ebr->nextRelative == 0) return;
    record = extended + ebr->nextRelative;
  }
}

void WalkGpt(SectorSource& source, std::vector<VolumeRegion>& regions) {
  const auto block = ReadSourceBytes(source, 1, 512);
  if (!block) return;
  const auto header = ParseGptHeader(ByteView(block->data(), block->size()));
  if (!header || header->myLba != 1) return;
  const std::uint64_t arrayBytes = std::uint64_t{header->entryCount} * header->entrySize;
  if (arrayBytes == 0 || arrayBytes > kLargestGptArray) return;
  const auto array = ReadSourceBytes(source, static_cast<std::int64_t>(header->entriesLba), arrayBytes);
  if (!array) return;
  const auto entries = ParseGptEntries(ByteView(array->data(), array->size()), *header);
  if (!entries) return;
  for (const GptEntry& entry : *entries) {
    AddPartition(source, static_cast<std::int64_t>(entry.firstLba), static_cast<std::int64_t>(entry.lastLba), regions);
  }
}

}  // namespace

std::optional<std::vector<std::uint8_t>> ReadSourceBytes(SectorSource& source, std::int64_t sector, std::uint64_t count) {
  const std::uint64_t sectorBytes = source.ScanGeometry().BytesPerSector;
  const std::uint64_t rounded = (count + sectorBytes - 1) / sectorBytes * sectorBytes;
  if (sector < 0 || rounded == 0 || rounded > UINT32_MAX) return std::nullopt;
  if (sector + static_cast<std::int64_t>(rounded / sectorBytes) - 1 > source.ScanGeometry().LastSector) return std::nullopt;
  std::vector<std::uint8_t> bytes(rounded);
  if (!source.ReadDirect(bytes.data(), static_cast<std::uint32_t>(rounded), sector * static_cast<std::int64_t>(sectorBytes))) {
    return std::nullopt;
  }
  bytes.resize(count);
  return bytes;
}

std::int64_t VolumeRegion::SectorOfCluster(std::uint64_t cluster) const {
  if (cluster < firstClusterNumber) return -1;
  return clusterBase + static_cast<std::int64_t>(cluster - firstClusterNumber) * sectorsPerCluster;
}

std::optional<VolumeRegion> ProbeVolumeAt(SectorSource& source, std::int64_t sector, std::int64_t lastSector) {
  const std::int64_t sectorBytes = source.ScanGeometry().BytesPerSector;
  const auto bytes = ReadSourceBytes(source, sector, kProbeBytes);
  if (!bytes) return std::nullopt;
  const ByteView view(bytes->data(), bytes->size());
  // A volume's end as it states it, within the partition or source.
  const auto ending = [&](std::uint64_t volumeBytes) {
    return std::min(lastSector, sector + static_cast<std::int64_t>(volumeBytes / sectorBytes) - 1);
  };
  if (const auto fat = ParseFatBootSector(view)) {
    const std::uint64_t clusterBytes = std::uint64_t{fat->sectorsPerCluster} * fat->bytesPerSector;
    return Laid(fat->fatBits == 32 ? VolumeKind::Fat32 : VolumeKind::Fat, sector,
                ending(fat->totalSectors * fat->bytesPerSector), sectorBytes, clusterBytes,
                fat->firstDataSector * fat->bytesPerSector, 2);
  }
  if (const auto exfat = ParseExfatBootSector(view)) {
    const std::uint64_t clusterBytes = std::uint64_t{exfat->sectorsPerCluster} * exfat->bytesPerSector;
    return Laid(VolumeKind::Exfat, sector, ending(exfat->volumeSectors * exfat->bytesPerSector), sectorBytes,
                clusterBytes, exfat->heapSector * exfat->bytesPerSector, 2);
  }
  if (const auto ntfs = ParseNtfsBootSector(view)) {
    const std::uint64_t clusterBytes = std::uint64_t{ntfs->sectorsPerCluster} * ntfs->bytesPerSector;
    return Laid(VolumeKind::Ntfs, sector, ending((ntfs->totalSectors + 1) * ntfs->bytesPerSector), sectorBytes,
                clusterBytes, 0, 0);
  }
  if (const auto ext4 = ParseExt4Superblock(view)) {
    return Laid(VolumeKind::Ext4, sector, ending(ext4->blockCount * ext4->blockSize), sectorBytes, ext4->blockSize, 0, 0);
  }
  return std::nullopt;
}

std::vector<VolumeRegion> MapVolumes(SectorSource& source) {
  std::vector<VolumeRegion> regions;
  const std::int64_t last = source.ScanGeometry().LastSector;
  if (last < 0) return regions;
  if (const auto whole = ProbeVolumeAt(source, 0, last)) {
    regions.push_back(*whole);
    return regions;
  }
  const auto sector = ReadSourceBytes(source, 0, 512);
  if (!sector) return regions;
  const auto entries = ParseMbr(ByteView(sector->data(), sector->size()));
  if (!entries) return regions;
  if (IsProtectiveMbr(*entries)) {
    WalkGpt(source, regions);
    return regions;
  }
  for (const MbrEntry& entry : *entries) {
    if (entry.IsExtended()) {
      WalkExtended(source, entry.firstLba, regions);
    } else {
      AddPartition(source, entry.firstLba, std::int64_t{entry.firstLba} + entry.sectorCount - 1, regions);
    }
  }
  return regions;
}

const char* VolumeKindName(VolumeKind kind) {
  switch (kind) {
    case VolumeKind::Fat: return "FAT";
    case VolumeKind::Fat32: return "FAT32";
    case VolumeKind::Exfat: return "exFAT";
    case VolumeKind::Ntfs: return "NTFS";
    case VolumeKind::Ext4: return "ext4";
  }
  return "";
}

const VolumeRegion* RegionHolding(const std::vector<VolumeRegion>& regions, std::int64_t sector) {
  for (const VolumeRegion& region : regions) {
    if (region.Holds(sector)) return &region;
  }
  return nullptr;
}

}  // namespace vellumark
