#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "ui/message_table.h"

namespace {

constexpr const char* kHelp =
    "usage: vellumark-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Rescues lost Word documents from a partition or a raw image of one. The\n"
    "source is only ever opened for reading.\n"
    "\n"
    "Commands:\n"
    "  info SOURCE   Open SOURCE (a block device such as /dev/sdb1 is opened as a\n"
    "                partition, anything else as a raw image file) and print its\n"
    "                geometry: BytesPerSector, LastSector, SectorsPerCluster,\n"
    "                ClusterPhase (-1: inferred by the scan), FileSystemType (FAT,\n"
    "                FAT32, NTFS or OTHER) and the number of Sectors.\n"
    "\n"
    "Options:\n"
    "  -h, --help    Show this text.\n"
    "\n"
    "Messages follow the system locale (Simplified or Traditional Chinese, or\n"
    "English). Exit status: 0 success, 1 the source cannot be opened, 2 refused\n"
    "input or a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  vellumark::ChooseLanguageFromSystem();
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cerr << kHelp;
    return vellumark::cli::kExitUsage;
  }
  const std::string command = args.front();
  args.erase(args.begin());
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kHelp;
    return vellumark::cli::kExitOk;
  }
  if (command == "info") return vellumark::cli::RunInfo(args);
  std::cerr << "vellumark-cli: unknown command '" << command << "'\n\n" << kHelp;
  return vellumark::cli::kExitUsage;
}
