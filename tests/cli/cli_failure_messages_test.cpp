// Every failure of the command line says what failed and why: the path and
// the system's reason for a source that cannot be opened, the option or
// argument for a usage error. Help is asked for, not an error.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

// Standard error (standard output with toStdout) of a run; a run that hangs
// is ended after a minute and shows as status 124.
std::string Cli(const std::string& args, int* status, bool toStdout = false) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= timeout 60 " VELLUMARK_CLI " " + args +
                             (toStdout ? " 2>/dev/null" : " 2>&1 >/dev/null"),
                         status);
}

// A pipe would block open() until a writer came; it is refused at once,
// whichever command is given it, and nothing is written.
TEST(CliFailureMessages, PipesDevicesAndFoldersAreRefusedAsSourcesWithTheReason) {
  test::TempDir dir;
  const std::string pipe = dir / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  fs::create_directory(dir / "out");
  const std::string isPipe = ": it is a pipe, not a drive or an image file\n";
  const struct { std::string args, error; } cases[] = {
      {"info " + pipe, "Failed to open file! " + pipe + isPipe},
      {"dump " + pipe + " 0", "Failed to open file! " + pipe + isPipe},
      {"rescue " + pipe + " " + (dir / "out"), "Failed to open file! " + pipe + isPipe},
      {"backup " + pipe + " " + (dir / "copy.img"), "Failed to open file! " + pipe + isPipe},
      {"info /dev/null", "Failed to open file! /dev/null: it is a character device, not a drive or an image file\n"},
      {"info " + (dir / "out"), "Failed to open file! " + (dir / "out") + ": Is a directory\n"},
  };
  for (const auto& c : cases) {
    int status = -1;
    EXPECT_EQ(Cli(c.args, &status), c.error) << c.args;
    EXPECT_EQ(status, 1) << c.args;
  }
  EXPECT_TRUE(fs::is_empty(dir / "out"));
  EXPECT_FALSE(fs::exists(dir / "copy.img"));
}

TEST(CliFailureMessages, UsageErrorsNameTheOptionOrArgument) {
  test::TempDir dir;
  const std::string img = dir / "disk.img";
  test::WriteFileBytes(img, std::vector<std::uint8_t>(64 * 512));
  const std::string out = dir.path().string();
  const struct { std::string args, firstLine; } cases[] = {
      {"info", "vellumark-cli info: SOURCE is needed"},
      {"info " + img + " extra", "vellumark-cli info: unexpected argument 'extra' after SOURCE"},
      {"info --verbose " + img, "vellumark-cli info: unknown option --verbose"},
      {"dump " + img, "vellumark-cli dump: SECTOR is needed"},
      {"dump " + img + " 64", "Invalid sector range! SECTOR 64: " + img + " has sectors 0 to 63"},
      {"rescue " + img, "vellumark-cli rescue: SOURCE and DEST_DIR are needed"},
      {"rescue " + img + " " + out + " more", "vellumark-cli rescue: unexpected argument 'more' after SOURCE and DEST_DIR"},
      {"rescue " + img + " " + out + " --frobnicate 1", "vellumark-cli rescue: unknown option --frobnicate"},
      {"rescue " + img + " " + out + " --last", "vellumark-cli rescue: --last needs a value"},
      {"rescue " + img + " " + out + " --reason lost",
       "vellumark-cli rescue: --reason 'lost': not deleted, formatted or repartitioned"},
      {"rescue " + img + " " + out + " --fs ext4", "vellumark-cli rescue: --fs 'ext4': not fat, fat32, ntfs or other"},
      {"rescue " + img + " " + out + " --cluster 3K",
       "vellumark-cli rescue: --cluster '3K': not 512, 1K, 2K, 4K, 8K, 16K or 32K"},
      {"rescue " + img + " " + out + " --types doc,pdf",
       "vellumark-cli rescue: --types 'doc,pdf': not a comma-separated list of doc, docx, xls, xlsx, ppt, pptx and odt"},
      {"rescue " + img + " " + out + " --first 10 --last 5",
       "invalid sector range! --first 10 --last 5: " + img + " has sectors 0 to 63"},
      {"rescue " + img + " " + (dir / "none"), "Please select folder to save file! " + (dir / "none") +
                                                   ": No such file or directory"},
      {"rescue " + img + " " + img, "Please select folder to save file! " + img + ": Not a directory"},
      {"backup " + img, "vellumark-cli backup: IMAGE is needed"},
      {"backup " + img + " " + (dir / "c.img") + " --first", "vellumark-cli backup: --first needs a value"},
      {"backup " + img + " " + (dir / "c.img") + " --force", "vellumark-cli backup: unknown option --force"},
      {"backup " + img + " " + (dir / "c.img") + " --last 64",
       "Invalid sector range! --first 0 --last 64: " + img + " has sectors 0 to 63"},
      {"backup " + img + " " + img, "Can't save IMG file on source drive! " + img},
  };
  for (const auto& c : cases) {
    int status = -1;
    const std::string err = Cli(c.args, &status);
    EXPECT_EQ(err.substr(0, err.find('\n')), c.firstLine) << c.args;
    EXPECT_EQ(status, 2) << c.args;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);  // nothing written
}

// The --types message lists what the option takes: all seven kinds, each
// accepted on its own.
TEST(CliFailureMessages, TheTypesMessageNamesExactlyTheAcceptedKinds) {
  test::TempDir dir;
  const std::string img = dir / "disk.img";
  test::WriteFileBytes(img, std::vector<std::uint8_t>(64 * 512));
  fs::create_directory(dir / "out");
  int status = -1;
  const std::string err = Cli("rescue " + img + " " + (dir / "out") + " --types none", &status);
  const std::string lead = "not a comma-separated list of ";
  ASSERT_NE(err.find(lead), std::string::npos) << err;
  std::string list = err.substr(err.find(lead) + lead.size());
  list = list.substr(0, list.find('\n'));
  list.replace(list.rfind(" and "), 5, ", ");
  std::vector<std::string> kinds;
  for (std::size_t at = 0; at <= list.size();) {
    const std::size_t end = std::min(list.find(", ", at), list.size());
    kinds.push_back(list.substr(at, end - at));
    at = end + 2;
  }
  EXPECT_EQ(kinds.size(), 7u) << list;
  for (const std::string& kind : kinds) {
    Cli("rescue " + img + " " + (dir / "out") + " --types " + kind, &status);
    EXPECT_EQ(status, 0) << kind;
  }
}

// Each command's --help (or -h, wherever it stands) prints that command's
// part of the help on standard output and exits with 0.
TEST(CliFailureMessages, EveryCommandPrintsItsHelp) {
  const struct { std::string args, usage, says; } cases[] = {
      {"info --help", "usage: vellumark-cli info SOURCE", "geometry"},
      {"rescue --help", "usage: vellumark-cli rescue SOURCE DEST_DIR", "--reason"},
      {"rescue disk.img out --types doc -h", "usage: vellumark-cli rescue SOURCE DEST_DIR", "--report"},
      {"dump -h", "usage: vellumark-cli dump SOURCE SECTOR", "hex"},
      {"backup --help", "usage: vellumark-cli backup SOURCE IMAGE", "--yes"},
  };
  for (const auto& c : cases) {
    int status = -1;
    EXPECT_EQ(Cli(c.args, &status), "") << c.args;  // nothing on standard error
    const std::string help = Cli(c.args, &status, true);
    EXPECT_EQ(status, 0) << c.args;
    EXPECT_EQ(help.substr(0, c.usage.size()), c.usage) << c.args;
    EXPECT_NE(help.find(c.says), std::string::npos) << c.args;
    EXPECT_NE(help.find("Exit status"), std::string::npos) << c.args;
    EXPECT_EQ(help.find("Commands:"), std::string::npos) << c.args;  // that command's part only
  }
}

}  // namespace
}  // namespace vellumark
