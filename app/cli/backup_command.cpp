#include <iostream>
#include <memory>

#include "access/posix_platform_source.h"
#include "backup/image_backup.h"
#include "cli/cli_source.h"
#include "cli/commands.h"
#include "cli/terminal_front_end.h"

namespace vellumark::cli {

int RunBackup(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  std::optional<std::string> first;
  std::optional<std::string> last;
  bool yes = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--yes") {
      yes = true;
    } else if ((args[i] == "--first" || args[i] == "--last") && i + 1 < args.size()) {
      (args[i] == "--first" ? first : last) = args[i + 1];
      ++i;
    } else if (args[i].rfind("--", 0) == 0) {
      positional.clear();
      break;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) {
    std::cerr << "usage: vellumark-cli backup SOURCE IMAGE [--first N] [--last N] [--yes]\n";
    return kExitUsage;
  }

  SectorSource source(std::make_unique<PosixPlatformSource>());
  if (!OpenOrReport(source, positional[0])) return kExitSourceFailed;
  TerminalPrompt prompt;
  if (yes) prompt.AnswerYesWithoutAsking();
  InterruptPump pump;
  TerminalProgress progress(source.SourceName());
  FrontEnd frontEnd{prompt, pump, progress};
  ImageBackup backup(source, frontEnd);
  pump.OnInterrupt([&backup] { backup.Cancel(); });
  pump.OnTerminate([&backup] { backup.Abandon(); });

  const BackupRange range{first.value_or("0"), last.value_or(std::to_string(source.ScanGeometry().LastSector))};
  const BackupResult result = backup.Run(range, positional[1]);
  if (!result.ran) {
    if (result.refusalSlot != 0) PrintSlot(result.refusalSlot);
    return kExitUsage;
  }
  if (result.finished) return result.errors > 0 ? kExitUnreadableSectors : kExitOk;
  // Said on standard error even when nobody was asked (no terminal, or a
  // signal): the image may be left with the rest of its length in zeros.
  if (result.cancelled) PrintSlot(slot::kBackupCancelled);
  if (!result.imagePath.empty()) {
    PrintSlot(slot::kUnfinishedImageKept, result.imagePath);
    if (!result.mapPath.empty()) PrintSlot(slot::kSectorsNotCopiedListed, result.mapPath);
  } else if (result.deleted) {
    PrintSlot(slot::kUnfinishedImageDeleted);
  }
  return kExitSourceFailed;
}

}  // namespace vellumark::cli
