// Backups that end badly at the last steps: the program killed at each
// system call that names the image or its map (strace's fault injection), or
// the disk failing to keep the map. Whatever happens, the folder holds whole
// files or none, and the earlier image stays as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The program run under strace, which injects the faults. The leak checker
// of the sanitized build cannot work under a tracer and would fail a run
// that was not killed, so it is left out there.
const std::string kUnderStrace = "ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 strace -f -qq -o /dev/null ";

std::string Backup(const std::string& source, const std::string& image, const std::string& before, int* status) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " + before + " " VELLUMARK_CLI " backup " + source + " " + image +
                             " </dev/null 2>&1",
                         status);
}

// The names in folder: those a run left hidden, and the others.
struct Listing {
  std::vector<std::string> shown, hidden;
};

Listing List(const fs::path& folder) {
  Listing listing;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    (name.starts_with(".vellumark-") && name.ends_with(".partial") ? listing.hidden : listing.shown).push_back(name);
  }
  std::sort(listing.shown.begin(), listing.shown.end());
  return listing;
}

// Killed at the first or second call of a system call: the linking of the
// nameless image (or map) to its name, the renaming of a hidden one over an
// earlier image, or the fsync of the image (1) or of the map (2).
TEST(CliInterruptedBackup, AKilledBackupLeavesNoFileButTheEarlierImage) {
  VELLUMARK_REQUIRE_TOOL("strace");
  struct Case {
    const char* call;
    int when;
    bool earlier;  // an earlier image and map under the names
  };
  const Case cases[] = {
      {"linkat", 1, false}, {"fsync", 1, false}, {"fsync", 2, false},
      {"linkat", 1, true},  {"linkat", 2, true}, {"rename", 1, true}, {"fsync", 1, true}, {"fsync", 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " call " + std::to_string(c.when) + (c.earlier ? ", over an earlier image" : ""));
    test::TempDir dir;
    fs::create_directory(dir / "out");
    const std::string source = dir / "disk.img", earlierSource = dir / "earlier.img";
    const std::string image = dir / "out/copy.img";
    const Bytes bytes = test::PatternBytes(1 << 20, 1);
    test::WriteFileBytes(source, bytes);
    int status = -1;
    std::vector<std::string> before;
    if (c.earlier) {
      test::WriteFileBytes(earlierSource, test::PatternBytes(1 << 19, 2));
      Backup(earlierSource, image, "", &status);
      ASSERT_EQ(status, 0);
      before = {"copy.img", "copy.img.map"};
    }
    const Bytes earlierMap = c.earlier ? test::ReadFileBytes(image + ".map") : Bytes{};

    const std::string said = Backup(source, image,
                                    kUnderStrace + "-e inject=" + c.call +
                                        ":signal=KILL:when=" + std::to_string(c.when),
                                    &status);
    EXPECT_NE(status, 0) << said;
    const Listing killed = List(dir.path() / "out");
    EXPECT_EQ(killed.shown, before) << said;
    if (c.earlier) {
      EXPECT_TRUE(test::ReadFileBytes(image) == test::PatternBytes(1 << 19, 2));
      EXPECT_TRUE(test::ReadFileBytes(image + ".map") == earlierMap);
    }

    // The next run in the folder clears what the killed one left hidden.
    const std::string next = Backup(source, image, "", &status);
    EXPECT_EQ(status, 0) << next;
    const Listing after = List(dir.path() / "out");
    EXPECT_EQ(after.shown, (std::vector<std::string>{"copy.img", "copy.img.map"}));
    EXPECT_TRUE(after.hidden.empty()) << after.hidden.front();
    EXPECT_TRUE(test::ReadFileBytes(image) == bytes);
  }
}

// Where the names are free, each file takes its name in one step: a backup
// never renames anything, so one killed at a rename still finishes.
TEST(CliInterruptedBackup, ABackupUnderFreeNamesNeverGoesThroughAHiddenName) {
  VELLUMARK_REQUIRE_TOOL("strace");
  test::TempDir dir;
  const std::string source = dir / "disk.img";
  const Bytes bytes = test::PatternBytes(1 << 20, 3);
  test::WriteFileBytes(source, bytes);
  fs::create_directory(dir / "out");
  int status = -1;
  const std::string said =
      Backup(source, dir / "out/copy.img", kUnderStrace + "-e inject=rename:signal=KILL:when=1", &status);
  EXPECT_EQ(status, 0) << said;
  const Listing listing = List(dir.path() / "out");
  EXPECT_EQ(listing.shown, (std::vector<std::string>{"copy.img", "copy.img.map"}));
  EXPECT_TRUE(listing.hidden.empty());
  EXPECT_TRUE(test::ReadFileBytes(dir / "out/copy.img") == bytes);
}

// The disk fails to keep the map (its fsync fails): the image is whole and
// named, and the user is told the list of sectors not copied is missing.
TEST(CliInterruptedBackup, AMapTheDiskDidNotKeepIsReportedAndNotNamed) {
  test::TempDir dir;
  const std::string source = dir / "disk.img";
  const Bytes bytes = test::PatternBytes(1 << 20, 4);
  test::WriteFileBytes(source, bytes);
  const std::string image = dir / "copy.img";
  int status = -1;
  // The image's fsync is the first, the map's the second.
  const std::string said =
      Backup(source, image, "LD_PRELOAD=" VELLUMARK_FSYNC_FAULTS " VELLUMARK_FAIL_FSYNC=2"
                      // The sanitizers' runtime must otherwise come first among the libraries.
                      " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0", &status);
  EXPECT_NE(said.find("The list of sectors not copied could not be written: " + image + ".map"), std::string::npos)
      << said;
  EXPECT_TRUE(test::ReadFileBytes(image) == bytes);
  EXPECT_FALSE(fs::exists(image + ".map"));
}

}  // namespace
}  // namespace vellumark
