#include <iostream>
#include <memory>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "access/volume_map.h"
#include "cli/cli_source.h"
#include "cli/commands.h"

namespace vellumark::cli {

int RunInfo(const std::vector<std::string>& args) {
  if (const std::string error = PositionalError(args, {"SOURCE"}); !error.empty()) {
    std::cerr << "vellumark-cli info: " << error << "\nusage: vellumark-cli info SOURCE\n";
    return kExitUsage;
  }
  SectorSource source(std::make_unique<PosixPlatformSource>());
  if (!OpenOrReport(source, args[0])) return kExitSourceFailed;
  const VolumeGeometry& g = source.ScanGeometry();
  std::cout << "BytesPerSector: " << g.BytesPerSector << '\n'
            << "LastSector: " << g.LastSector << '\n'
            << "SectorsPerCluster: " << g.SectorsPerCluster << '\n'
            << "ClusterPhase: " << g.ClusterPhase << '\n'
            << "FileSystemType: " << FileSystemTypeName(g.FileSystemType) << '\n'
            << "Sectors: " << g.LastSector + 1 << '\n';
  // The volumes a partition table lists, or one at the start whose kind
  // the lines above cannot name (exFAT, ext4): one line each.
  const std::vector<VolumeRegion> volumes = MapVolumes(source);
  const bool told = volumes.size() == 1 && volumes[0].firstSector == 0 && volumes[0].kind != VolumeKind::Exfat &&
                    volumes[0].kind != VolumeKind::Ext4;
  for (const VolumeRegion& volume : told ? std::vector<VolumeRegion>() : volumes) {
    std::cout << "Volume: " << VolumeKindName(volume.kind) << ", sectors " << volume.firstSector << "-"
              << volume.lastSector << ", SectorsPerCluster " << volume.sectorsPerCluster << ", ClusterPhase "
              << volume.phase << '\n';
  }
  return kExitOk;
}

}  // namespace vellumark::cli
