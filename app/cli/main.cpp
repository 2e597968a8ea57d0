#include <algorithm>
#include <iostream>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "common/message_slots.h"
#include "texts/message_table.h"

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
    "                FAT32, NTFS or OTHER) and the number of Sectors; then, for\n"
    "                each partition a table lists and for an exFAT or ext4\n"
    "                volume, a Volume line with its kind, sectors and layout.\n"
    "  rescue SOURCE DEST_DIR [--first N] [--last N] [--reason R] [--fs F]\n"
    "         [--cluster C] [--types T] [--report PATH] [--names N]\n"
    "                Search SOURCE sector by sector for lost documents and write\n"
    "                each one, rebuilt, to DEST_DIR as TEST_xxxxxxx.DOC (.DOCX,\n"
    "                .XLS, .XLSX, .PPT, .PPTX, .ODT); of a Word document that\n"
    "                cannot be rebuilt, the text its readable pieces hold, as\n"
    "                TEST_xxxxxxx.TXT. DEST_DIR must exist and\n"
    "                must not be on SOURCE. Files\n"
    "                already there are never replaced: a document whose name is\n"
    "                taken by other bytes is written as TEST_xxxxxxx-2.DOC. The\n"
    "                range --first/--last defaults to the whole source. --reason\n"
    "                is why the data was lost: deleted (trust the boot sector's\n"
    "                cluster layout), formatted or repartitioned; then --fs\n"
    "                fat|fat32|ntfs|other and --cluster 512|1K|2K|4K|8K|16K|32K\n"
    "                adjust the cluster layout (not with deleted). --types is a\n"
    "                comma-separated list of doc, docx, xls, xlsx, ppt, pptx,\n"
    "                odt (default doc,docx).\n"
    "                Progress goes to standard error; the last line of standard\n"
    "                output is the count, e.g. \"Rescued file 3\". Ctrl-C during\n"
    "                the search ends the search and carves what was found;\n"
    "                during the carving it stops the carving. SIGTERM and SIGHUP\n"
    "                stop both and still write the report. A stopped rescue\n"
    "                says on standard error the share of the range searched,\n"
    "                the sector the search stopped at and whether the carving\n"
    "                was cut short, and ends with status 4.\n"
    "                At the end every document found is read back and listed in\n"
    "                DEST_DIR/rescue-report.csv (or PATH): name, kind, whether\n"
    "                its structure is whole, title, author, last saved, the\n"
    "                source sectors it was rebuilt from and its SHA-256. PATH may\n"
    "                not name a rescued file; a report already in DEST_DIR is\n"
    "                kept and the new one numbered (rescue-report-2.csv).\n"
    "                Where a volume's own records (FAT, exFAT, NTFS or ext4,\n"
    "                deleted files too) list a file that starts where a document\n"
    "                starts and has its size, the report gives its original name,\n"
    "                folder, created and modified times; with --names original\n"
    "                the document is written under that name and folder below\n"
    "                DEST_DIR (made safe, taken names numbered) instead of\n"
    "                TEST_xxxxxxx (--names test, the default). Each partition of\n"
    "                a disk is searched on its own cluster layout.\n"
    "  dump SOURCE SECTOR\n"
    "                Print one sector as a hex and character dump.\n"
    "  backup SOURCE IMAGE [--first N] [--last N] [--yes]\n"
    "                Copy a sector range (default: all of SOURCE) to the raw\n"
    "                image file IMAGE, which must not be on SOURCE. Unreadable\n"
    "                sectors are written as zeros and counted. IMAGE can later\n"
    "                be used as a SOURCE. IMAGE is replaced only when the copy is\n"
    "                complete. Beside it, IMAGE.map lists in GNU ddrescue's\n"
    "                mapfile format the sectors copied and those written as\n"
    "                zeros, by their byte positions on SOURCE; the command in its\n"
    "                comment has ddrescue retry them into IMAGE. Ctrl-C cancels;\n"
    "                the unfinished copy is then deleted if you answer yes\n"
    "                (--yes answers yes without asking; with no terminal the\n"
    "                answer is no), else kept as IMAGE, or beside it as IMAGE-2\n"
    "                when IMAGE exists, with its map listing the sectors never\n"
    "                copied; standard error says which. SIGTERM and SIGHUP cancel\n"
    "                and delete the unfinished copy.\n"
    "\n"
    "Options:\n"
    "  -h, --help    Show this text; after a command, that command's part of it.\n"
    "\n"
    "Messages follow the system locale (Simplified or Traditional Chinese, or\n"
    "English).\n"
    "\n"
    "Exit status:\n"
    "  0             Success.\n"
    "  1             The source cannot be opened or stopped giving data part-way,\n"
    "                a backup did not finish, a rescued document or the rescue\n"
    "                report could not be written.\n"
    "  2             Refused input or a usage error.\n"
    "  3             Finished, but some sectors could not be read: a rescue\n"
    "                skips them or writes zeros for them inside a document; a\n"
    "                backup writes zeros for them in IMAGE and lists them as bad\n"
    "                in IMAGE.map.\n"
    "  4             A rescue was stopped before the end (Ctrl-C, SIGTERM or\n"
    "                SIGHUP): the documents found until then are written and\n"
    "                listed in the report.\n";

using Command = int (*)(const std::vector<std::string>&);

const std::map<std::string, Command> kCommands{
    {"info", &vellumark::cli::RunInfo},
    {"rescue", &vellumark::cli::RunRescue},
    {"dump", &vellumark::cli::RunDump},
    {"backup", &vellumark::cli::RunBackup},
};

bool AsksForHelp(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(), [](const std::string& a) { return a == "-h" || a == "--help"; });
}

// One command's part of the help (its paragraph under "Commands:") and the
// closing paragraph on messages and exit statuses, so that the text each
// command's --help prints is the one the full help shows.
std::string CommandHelp(const std::string& command) {
  const std::string_view help(kHelp);
  const std::size_t start = help.find("\n  " + command + " ");
  const std::size_t closing = help.find("\nMessages follow");
  if (start == std::string_view::npos || closing == std::string_view::npos) return kHelp;
  // The paragraph goes on while lines are indented deeper than a command.
  std::size_t end = help.find('\n', start + 1);
  while (end != std::string_view::npos && help.substr(end + 1, 3) == "   ") end = help.find('\n', end + 1);
  return "usage: vellumark-cli " + std::string(help.substr(start + 3, end - start - 2)) + "\n" +
         std::string(help.substr(closing + 1));
}

int Dispatch(std::vector<std::string> args) {
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
  const auto found = kCommands.find(command);
  if (found == kCommands.end()) {
    std::cerr << "vellumark-cli: unknown command '" << command << "'\n\n" << kHelp;
    return vellumark::cli::kExitUsage;
  }
  if (AsksForHelp(args)) {
    std::cout << CommandHelp(command);
    return vellumark::cli::kExitOk;
  }
  return found->second(args);
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever runs out of memory, wherever in a run: the operation unwinds
  // (files staged so far are dropped, the folder lock is given back) and the
  // program ends with a message rather than an abort.
  try {
    vellumark::ChooseLanguageFromSystem();
    return Dispatch(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::bad_alloc&) {
    std::cerr << "\n" << vellumark::Text(vellumark::slot::kOutOfMemory) << std::endl;
    return vellumark::cli::kExitSourceFailed;
  }
}
