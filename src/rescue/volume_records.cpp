#include "rescue/volume_records.h"

#include <ctime>

namespace vellumark {

std::string UtcText(std::int64_t seconds) {
  const std::time_t time = seconds;
  std::tm parts{};
  if (seconds <= 0 || gmtime_r(&time, &parts) == nullptr) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::vector<OriginalFile> ReadVolumeRecords(SectorSource& source, const std::vector<VolumeRegion>& regions,
                                            const std::set<std::int64_t>& documentStarts) {
  std::vector<OriginalFile> files;
  for (const VolumeRegion& region : regions) {
    switch (region.kind) {
      case VolumeKind::Fat:
      case VolumeKind::Fat32: ReadFatRecords(source, region, documentStarts, files); break;
      case VolumeKind::Exfat: ReadExfatRecords(source, region, documentStarts, files); break;
      case VolumeKind::Ntfs: ReadNtfsRecords(source, region, files); break;
      case VolumeKind::Ext4: ReadExt4Records(source, region, files); break;
    }
  }
  return files;
}

}  // namespace vellumark
