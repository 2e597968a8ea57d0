#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "access/volume_parameters.h"
#include "cli/cli_source.h"
#include "cli/commands.h"
#include "cli/terminal_front_end.h"
#include "rescue/deep_scan.h"

namespace vellumark::cli {
namespace {

constexpr const char* kUsage =
    "usage: vellumark-cli rescue SOURCE DEST_DIR [--first N] [--last N]\n"
    "         [--reason deleted|formatted|repartitioned] [--fs fat|fat32|ntfs|other]\n"
    "         [--cluster 512|1K|2K|4K|8K|16K|32K] [--types doc,docx,xls,xlsx,ppt,pptx,odt]\n"
    "         [--report PATH]   (default: DEST_DIR/rescue-report.csv)\n";

const std::map<std::string, int> kReasons{
    {"deleted", kReasonDeleted}, {"formatted", kReasonFormatted}, {"repartitioned", kReasonRepartitioned}};
const std::map<std::string, int> kFileSystems{
    {"fat", kFileSystemFat}, {"fat32", kFileSystemFat32}, {"ntfs", kFileSystemNtfs}, {"other", kFileSystemOther}};
const std::map<std::string, int> kClusterSizes{{"512", 0}, {"1K", 1}, {"2K", 2}, {"4K", 3},
                                               {"8K", 4},  {"16K", 5}, {"32K", 6}};
const std::map<std::string, TypeMask> kTypes{
    {"doc", type_mask::kWord}, {"xls", type_mask::kExcel}, {"ppt", type_mask::kPowerPoint},
    {"docx", type_mask::kDocx}, {"xlsx", type_mask::kXlsx}, {"pptx", type_mask::kPptx}, {"odt", type_mask::kOdt}};

struct RescueOptions {
  std::string source;
  std::string destination;
  std::optional<std::string> first;
  std::optional<std::string> last;
  std::optional<int> reason;
  std::optional<int> fileSystem;
  std::optional<int> clusterSize;
  TypeMask types = type_mask::kInitial;
  std::string report;
};

template <typename T>
bool Lookup(const std::map<std::string, T>& table, const std::string& key, T& out) {
  const auto it = table.find(key);
  if (it == table.end()) return false;
  out = it->second;
  return true;
}

bool ParseTypes(const std::string& list, TypeMask& mask) {
  mask = 0;
  std::stringstream items(list);
  std::string item;
  while (std::getline(items, item, ',')) {
    TypeMask bit = 0;
    if (!Lookup(kTypes, item, bit)) return false;
    mask |= bit;
  }
  return mask != 0;
}

// Returns an error text, empty when the arguments are fine.
std::string ParseOptions(const std::vector<std::string>& args, RescueOptions& options) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= args.size()) return arg + " needs a value";
    const std::string& value = args[++i];
    int entry = 0;
    if (arg == "--first") {
      options.first = value;
    } else if (arg == "--last") {
      options.last = value;
    } else if (arg == "--reason" && Lookup(kReasons, value, entry)) {
      options.reason = entry;
    } else if (arg == "--fs" && Lookup(kFileSystems, value, entry)) {
      options.fileSystem = entry;
    } else if (arg == "--cluster" && Lookup(kClusterSizes, value, entry)) {
      options.clusterSize = entry;
    } else if (arg == "--types" && ParseTypes(value, options.types)) {
    } else if (arg == "--report" && !value.empty()) {
      options.report = value;
    } else {
      return "bad option " + arg + " " + value;
    }
  }
  if (positional.size() != 2) return "SOURCE and DEST_DIR are needed";
  options.source = positional[0];
  options.destination = positional[1];
  if (!options.report.empty()) {
    // Found out before a long scan rather than after it.
    std::error_code error;
    const auto folder = std::filesystem::absolute(options.report, error).parent_path();
    if (!std::filesystem::is_directory(folder, error)) return "no folder for the report " + options.report;
  }
  return {};
}

}  // namespace

int RunRescue(const std::vector<std::string>& args) {
  RescueOptions options;
  if (const std::string error = ParseOptions(args, options); !error.empty()) {
    std::cerr << "vellumark-cli rescue: " << error << "\n" << kUsage;
    return kExitUsage;
  }

  SectorSource source(std::make_unique<PosixPlatformSource>());
  OpenResult opened;
  if (!OpenOrReport(source, options.source, &opened)) return kExitSourceFailed;
  VolumeParameters parameters(source);
  parameters.ShowOpened(opened.bootSectorRecognised);

  TerminalPrompt prompt;
  InterruptPump pump;
  TerminalProgress progress(source.SourceName());
  FrontEnd frontEnd{prompt, pump, progress};

  // The lists as a user would work them in the window: reason first, then
  // file system, then cluster size.
  if (options.reason) {
    parameters.SelectReason(*options.reason);
    parameters.ComboBox3Click(prompt);
  }
  if ((options.fileSystem || options.clusterSize) &&
      !(parameters.Lists().fileSystemEnabled && parameters.Lists().clusterSizeEnabled)) {
    std::cerr << "vellumark-cli rescue: the boot sector's layout is trusted for a deleted file; "
                 "--fs and --cluster need --reason formatted or repartitioned\n";
    return kExitUsage;
  }
  if (options.fileSystem) {
    parameters.SelectFileSystem(*options.fileSystem);
    parameters.FileSystemDefaults();
  }
  if (options.clusterSize) {
    parameters.SelectClusterSize(*options.clusterSize);
    parameters.ComboBox1Click(true);
  }

  DeepScan scan(source, parameters, frontEnd);
  pump.OnInterrupt([&scan] {
    if (!scan.SearchStopped()) {
      scan.CancelSearch();
    } else {
      scan.Stop();
    }
  });
  pump.OnTerminate([&scan] { scan.StopAll(); });
  ScanRequest request;
  request.saveFolder = options.destination;
  request.firstSectorText = options.first.value_or("0");
  request.lastSectorText = options.last.value_or(std::to_string(source.ScanGeometry().LastSector));
  request.typeMask = options.types;
  request.reportPath = options.report;
  const ScanResult result = scan.Run(request);
  if (!result.ran) {
    PrintSlot(result.refusalSlot);
    if (!result.refusalDetail.empty()) std::cerr << result.refusalDetail << "\n";
    return kExitUsage;
  }
  if (!result.reportWritten) {
    std::cerr << "vellumark-cli rescue: could not write the report " << result.reportPath << ": "
              << std::strerror(errno) << "\n";
    return kExitSourceFailed;
  }
  std::cerr << "Report: " << result.reportPath << "\n";
  if (result.notWritten > 0 || result.sourceEndedAt) return kExitSourceFailed;
  return result.unreadableSectors > 0 ? kExitUnreadableSectors : kExitOk;
}

}  // namespace vellumark::cli
