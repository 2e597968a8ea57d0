#pragma once

#include <string>
#include <vector>

namespace vellumark::cli {

// Exit statuses shared by every subcommand.
inline constexpr int kExitOk = 0;
inline constexpr int kExitSourceFailed = 1;
inline constexpr int kExitUsage = 2;
// Finished, but some sectors of the source could not be read: a rescue
// skipped them or wrote zeros for them inside a document; a backup wrote
// zeros for them and listed them in the image's map.
inline constexpr int kExitUnreadableSectors = 3;
// A rescue stopped before the end of its range (Ctrl-C, SIGTERM or SIGHUP):
// what it found until then is written and listed in the report, but a
// script must not take it for a whole run.
inline constexpr int kExitStopped = 4;

// What is wrong with a command line that takes exactly the named positional
// arguments and no options: the unknown option, the missing argument or the
// one too many. Empty when the arguments fit.
std::string PositionalError(const std::vector<std::string>& args, const std::vector<std::string>& names);

int RunInfo(const std::vector<std::string>& args);
int RunRescue(const std::vector<std::string>& args);
int RunDump(const std::vector<std::string>& args);
int RunBackup(const std::vector<std::string>& args);

}  // namespace vellumark::cli
