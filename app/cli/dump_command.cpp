#include <iostream>
#include <memory>

#include "access/posix_platform_source.h"
#include "cli/cli_source.h"
#include "cli/commands.h"
#include "viewer/sector_view.h"

namespace vellumark::cli {

int RunDump(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::cerr << "usage: vellumark-cli dump SOURCE SECTOR\n";
    return kExitUsage;
  }
  SectorSource source(std::make_unique<PosixPlatformSource>());
  if (!OpenOrReport(source, args[0])) return kExitSourceFailed;
  SectorView view(source);
  if (const int refusal = view.GoTo(args[1])) {
    PrintSlot(refusal);
    return kExitUsage;
  }
  if (view.Lines().empty()) {
    std::cerr << "vellumark-cli dump: sector " << args[1] << " cannot be read\n";
    return kExitSourceFailed;
  }
  for (const std::string& line : view.Lines()) std::cout << line << '\n';
  return kExitOk;
}

}  // namespace vellumark::cli
