#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <iterator>
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
#include "texts/failure_text.h"
#include "texts/message_table.h"
#include "texts/refusal_slots.h"
#include "texts/rescue_summary.h"

namespace vellumark::cli {
namespace {

constexpr const char* kUsage =
    "usage: vellumark-cli rescue SOURCE DEST_DIR [--first N] [--last N]\n"
    "         [--reason deleted|formatted|repartitioned] [--fs fat|fat32|ntfs|other]\n"
    "         [--cluster 512|1K|2K|4K|8K|16K|32K] [--types doc,docx,xls,xlsx,ppt,pptx,odt]\n"
    "         [--report PATH]   (default: DEST_DIR/rescue-report.csv)\n"
    "         [--names test|original]\n";

const std::map<std::string, int> kReasons{
    {"deleted", kReasonDeleted}, {"formatted", kReasonFormatted}, {"repartitioned", kReasonRepartitioned}};
const std::map<std::string, int> kFileSystems{
    {"fat", kFileSystemFat}, {"fat32", kFileSystemFat32}, {"ntfs", kFileSystemNtfs}, {"other", kFileSystemOther}};
const std::map<std::string, int> kClusterSizes{{"512", 0}, {"1K", 1}, {"2K", 2}, {"4K", 3},
                                               {"8K", 4},  {"16K", 5}, {"32K", 6}};
// The kinds --types accepts, in the order the help lists them; the parser
// and its error message both read this one table.
const std::pair<const char*, TypeMask> kTypes[] = {
    {"doc", type_mask::kWord},  {"docx", type_mask::kDocx},       {"xls", type_mask::kExcel},
    {"xlsx", type_mask::kXlsx}, {"ppt", type_mask::kPowerPoint}, {"pptx", type_mask::kPptx},
    {"odt", type_mask::kOdt}};

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
  bool originalNames = false;
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
    const auto type = std::find_if(std::begin(kTypes), std::end(kTypes), [&](const auto& t) { return item == t.first; });
    if (type == std::end(kTypes)) return false;
    mask |= type->second;
  }
  return mask != 0;
}

// "a comma-separated list of doc, docx, ... and odt"
std::string TypesAccepted() {
  std::string text = "a comma-separated list of ";
  for (std::size_t i = 0; i < std::size(kTypes); ++i) {
    if (i > 0) text += i + 1 == std::size(kTypes) ? " and " : ", ";
    text += kTypes[i].first;
  }
  return text;
}

// The options that take a value, and what each accepts where not any text.
const std::map<std::string, std::string> kValueOptions{
    {"--first", ""},
    {"--last", ""},
    {"--reason", "deleted, formatted or repartitioned"},
    {"--fs", "fat, fat32, ntfs or other"},
    {"--cluster", "512, 1K, 2K, 4K, 8K, 16K or 32K"},
    {"--types", TypesAccepted()},
    {"--report", "a file path"},
    {"--names", "test or original"},
};

// Why a folder cannot be written to, as an errno value (0: no reason found).
int FolderError(const std::string& folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  if (::access(folder.c_str(), W_OK | X_OK) != 0) return errno;
  return 0;
}

// Returns an error text naming the option or argument at fault, empty when
// the arguments are fine.
std::string ParseOptions(const std::vector<std::string>& args, RescueOptions& options) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    const auto known = kValueOptions.find(arg);
    if (known == kValueOptions.end()) return "unknown option " + arg;
    if (i + 1 >= args.size()) return arg + " needs a value";
    const std::string& value = args[++i];
    int entry = 0;
    bool accepted = true;
    if (arg == "--first") {
      options.first = value;
    } else if (arg == "--last") {
      options.last = value;
    } else if (arg == "--reason") {
      accepted = Lookup(kReasons, value, entry);
      options.reason = entry;
    } else if (arg == "--fs") {
      accepted = Lookup(kFileSystems, value, entry);
      options.fileSystem = entry;
    } else if (arg == "--cluster") {
      accepted = Lookup(kClusterSizes, value, entry);
      options.clusterSize = entry;
    } else if (arg == "--types") {
      accepted = ParseTypes(value, options.types);
    } else if (arg == "--names") {
      accepted = value == "test" || value == "original";
      options.originalNames = value == "original";
    } else {
      accepted = !value.empty();
      options.report = value;
    }
    if (!accepted) return arg + " '" + value + "': not " + known->second;
  }
  if (positional.size() < 2) return "SOURCE and DEST_DIR are needed";
  if (positional.size() > 2) return "unexpected argument '" + positional[2] + "' after SOURCE and DEST_DIR";
  options.source = positional[0];
  options.destination = positional[1];
  if (!options.report.empty()) {
    // Found out before a long scan rather than after it.
    std::error_code error;
    const auto folder = std::filesystem::absolute(options.report, error).parent_path();
    if (!std::filesystem::is_directory(folder, error)) {
      return "--report " + options.report + ": no folder for the report" +
             PathAndReason(folder.string(), FolderError(folder.string()));
    }
  }
  return {};
}

// A refusal of the scan with what it concerns: the folder and why it cannot
// take the files, the report's path, or the range asked for.
void PrintRefusal(const ScanResult& result, const RescueOptions& options, const ScanRequest& request,
                  std::int64_t lastSector) {
  std::string detail;
  switch (result.refusal) {
    case Refusal::NoSaveFolder:
      detail = PathAndReason(options.destination, FolderError(options.destination));
      break;
    case Refusal::FolderUnwritable: {
      // The folder's own fault, or else what the scan met making its lock
      // file there (a link planted in its place, say).
      const int error = FolderError(options.destination);
      detail = error != 0 || result.refusalDetail.empty() ? PathAndReason(options.destination, error)
                                                          : " " + result.refusalDetail;
      break;
    }
    case Refusal::FolderOnSource:
    case Refusal::FolderBusy:
      detail = PathAndReason(options.destination, 0);
      break;
    case Refusal::ReportOnSource:
      // The default report lies in the destination; a named one is the path at fault.
      detail = PathAndReason(options.report.empty() ? options.destination : options.report, 0);
      break;
    case Refusal::ReportNameTaken:
      detail = PathAndReason(options.report, 0);
      break;
    case Refusal::ReportNotAFile:
      detail = PathAndReason(result.refusedPath, 0, SlotOf(result.refusedKind));
      break;
    case Refusal::DestinationUntraced:
      detail = PathAndReason(result.refusedPath, 0);
      break;
    case Refusal::ScanRangeInvalid:
      detail = " --first " + request.firstSectorText + " --last " + request.lastSectorText + ": " +
               options.source + " has sectors 0 to " + std::to_string(lastSector);
      break;
    default:
      break;
  }
  std::cerr << Text(SlotOf(result.refusal)) << detail << '\n';
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
  // The window falls back to "Formatted" with a message; asked for on the
  // command line, the layout of an unknown boot sector is refused, since a
  // script would otherwise run a different rescue than the one it named.
  if (options.reason == kReasonDeleted && !parameters.CanTrustBootSector()) {
    std::cerr << Text(slot::kUnknownFileSystem) << " --reason deleted: " << options.source
              << " has no FAT, FAT32 or NTFS boot sector; use --reason formatted or repartitioned\n";
    return kExitUsage;
  }

  TerminalPrompt prompt;
  InterruptPump pump;
  TerminalProgress progress(source.SourceName());
  FrontEnd frontEnd{prompt, pump, progress};

  // The lists as a user would work them in the window: reason first, then
  // file system, then cluster size.
  if (options.reason) {
    parameters.SelectReason(*options.reason);
    parameters.ApplyReason(prompt);
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
    parameters.ChooseClusterSize();
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
  request.originalNames = options.originalNames;
  const ScanResult result = scan.Run(request);
  if (!result.ran) {
    PrintRefusal(result, options, request, source.ScanGeometry().LastSector);
    return kExitUsage;
  }
  if (!result.reportWritten) {
    std::cerr << "vellumark-cli rescue: could not write the report " << result.reportPath << ": "
              << std::strerror(errno) << "\n";
    return kExitSourceFailed;
  }
  std::cerr << DocumentCounts(scan.Report()) << "\n";
  std::cerr << "Report: " << result.reportPath << "\n";
  if (result.notWritten > 0 || result.sourceEndedAt) return kExitSourceFailed;
  if (result.stopped) return kExitStopped;
  return result.unreadableSectors > 0 ? kExitUnreadableSectors : kExitOk;
}

}  // namespace vellumark::cli
