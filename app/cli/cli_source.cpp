#include "cli/cli_source.h"

#include <sys/stat.h>

#include <cctype>
#include <iostream>

#include "cli/commands.h"
#include "texts/failure_text.h"
#include "texts/message_table.h"
#include "texts/refusal_slots.h"

namespace vellumark::cli {

OpenResult OpenSourceArgument(SectorSource& source, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return source.OpenPartition(path, path);
  return source.OpenImageFile(path);
}

bool OpenOrReport(SectorSource& source, const std::string& path, OpenResult* result) {
  const OpenResult opened = OpenSourceArgument(source, path);
  if (result != nullptr) *result = opened;
  if (!opened.ok()) {
    std::cerr << Text(SlotOf(opened.error)) << PathAndReason(path, opened.systemError, ReasonSlot(opened)) << '\n';
  }
  return opened.ok();
}

std::string PositionalError(const std::vector<std::string>& args, const std::vector<std::string>& names) {
  for (const std::string& arg : args) {
    if (arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]))) {
      return "unknown option " + arg;
    }
  }
  if (args.size() < names.size()) return names[args.size()] + " is needed";
  if (args.size() > names.size()) return "unexpected argument '" + args[names.size()] + "' after " + names.back();
  return {};
}

void PrintSlot(int slot, const std::string& suffix) { std::cerr << Text(slot) << suffix << '\n'; }

}  // namespace vellumark::cli
