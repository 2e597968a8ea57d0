#pragma once

#include <string>
#include <vector>

namespace vellumark::cli {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitSourceFailed = 1;
inline constexpr int kExitUsage = 2;
// A backup finished, but some sectors could not be read: they are zeros in
// the image and listed in its map.
inline constexpr int kExitUnreadableSectors = 3;

int RunInfo(const std::vector<std::string>& args);
int RunRescue(const std::vector<std::string>& args);
int RunDump(const std::vector<std::string>& args);
int RunBackup(const std::vector<std::string>& args);

}  // namespace vellumark::cli
