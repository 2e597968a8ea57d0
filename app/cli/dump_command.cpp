#include <iostream>
#include <memory>

#include "access/posix_platform_source.h"
#include "cli/cli_source.h"
#include "cli/commands.h"
#include "texts/message_table.h"
#include "viewer/sector_view.h"

namespace vellumark::cli {

int RunDump(const std::vector<std::string>& args) {
  if (const std::string error = PositionalError(args, {"SOURCE", "SECTOR"}); !error.empty()) {
    std::cerr << "vellumark-cli dump: " << error << "\nusage: vellumark-cli dump SOURCE SECTOR\n";
    return kExitUsage;
  }
  SectorSource source(std::make_unique<PosixPlatformSource>());
  if (!OpenOrReport(source, args[0])) return kExitSourceFailed;
  SectorView view(source);
  if (const int refusal = view.GoTo(args[1])) {
    std::cerr << Text(refusal) << " SECTOR " << args[1] << ": " << args[0] << " has sectors 0 to "
              << source.ScanGeometry().LastSector << '\n';
    return kExitUsage;
  }
  if (view.Lines().empty()) {
    std::cerr << "vellumark-cli dump: sector " << args[1] << " of " << args[0] << " cannot be read\n";
    return kExitSourceFailed;
  }
  for (const std::string& line : view.Lines()) std::cout << line << '\n';
  return kExitOk;
}

}  // namespace vellumark::cli
