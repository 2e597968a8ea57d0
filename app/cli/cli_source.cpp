#include "cli/cli_source.h"

#include <sys/stat.h>

#include <iostream>

#include "ui/message_table.h"

namespace vellumark::cli {

OpenResult OpenSourceArgument(SectorSource& source, const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) return source.OpenPartition(path, path);
  return source.OpenImageFile(path);
}

bool OpenOrReport(SectorSource& source, const std::string& path, OpenResult* result) {
  const OpenResult opened = OpenSourceArgument(source, path);
  if (result != nullptr) *result = opened;
  if (!opened.ok()) PrintSlot(opened.failureSlot);
  return opened.ok();
}

// Slot 0 is "no message" for the engine's results; it has a text of its own.
void PrintSlot(int slot) {
  if (slot != 0) std::cerr << Text(slot) << '\n';
}

void PrintSlot(int slot, const std::string& suffix) { std::cerr << Text(slot) << suffix << '\n'; }

}  // namespace vellumark::cli
