#include <iostream>
#include <memory>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
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
  return kExitOk;
}

}  // namespace vellumark::cli
