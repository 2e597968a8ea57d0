#include "rescue/volume_records.h"

namespace vellumark {

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

std::vector<OriginalFile> ReadVolumeRecords(SectorSource& source, const std::vector<VolumeRegion>& regions) {
  std::vector<OriginalFile> files;
  for (const VolumeRegion& region : regions) {
    switch (region.kind) {
      case VolumeKind::Fat:
      case VolumeKind::Fat32: ReadFatRecords(source, region, files); break;
      case VolumeKind::Exfat: ReadExfatRecords(source, region, files); break;
      case VolumeKind::Ntfs: ReadNtfsRecords(source, region, files); break;
      case VolumeKind::Ext4: break;  // its names give no first block without the inode
    }
  }
  return files;
}

}  // namespace vellumark
