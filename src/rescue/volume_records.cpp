#include "rescue/volume_records.h"

namespace vellumark {

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
