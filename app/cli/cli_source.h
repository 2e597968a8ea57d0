#pragma once

#include <string>

#include "access/sector_source.h"

namespace vellumark::cli {

// Opens SOURCE as the window would: a block device as a partition (named by
// its path), anything else as an image file.
OpenResult OpenSourceArgument(SectorSource& source, const std::string& path);

// Opens SOURCE for a subcommand; when it cannot be opened, prints the
// message with the path and why, and returns false (the command then exits
// with kExitSourceFailed).
bool OpenOrReport(SectorSource& source, const std::string& path, OpenResult* result = nullptr);

// Prints the message-table text of a slot on standard error, with a name
// or a number after it.
void PrintSlot(int slot, const std::string& suffix = {});

}  // namespace vellumark::cli
