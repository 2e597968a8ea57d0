// vellumark-cli dump and backup on a real FAT image.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/fixtures.h"
#include "viewer/sector_dump.h"

namespace vellumark {
namespace {

std::vector<std::string> Cli(const std::string& args, int* status) {
  const std::string out = test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " </dev/null", status);
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The tool with reads of source failing over the byte ranges in unreadable
// ("offset:length,..."), and Ctrl-C pressed when the copy reaches
// interruptAt (-1: never); what it printed on both streams.
std::string CliWithFaultySource(const std::string& source, const std::string& unreadable, std::int64_t interruptAt,
                                const std::string& args, int* status) {
  const std::string env = std::string("LD_PRELOAD=") + VELLUMARK_READ_FAULTS + " VELLUMARK_FAULT_FILE=" + source +
                          " VELLUMARK_FAULT_UNREADABLE=" + unreadable +
                          (interruptAt >= 0 ? " VELLUMARK_FAULT_INTERRUPT=" + std::to_string(interruptAt) : "") +
                          // The sanitizers' runtime must otherwise come first among the libraries.
                          " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0";
  return test::RunOutput(env + " LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " </dev/null 2>&1", status);
}

// A 1.44 MB FAT12 image: 2880 sectors.
std::string MakeFatImage(const test::TempDir& dir) {
  const std::string img = dir / "fat.img";
  EXPECT_EQ(test::Run("mkfs.vfat -C " + img + " 1440 >/dev/null 2>&1"), 0);
  return img;
}

TEST(CliDump, PrintsOneSectorOrRefusesOneOffTheSource) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  test::TempDir dir;
  const std::string img = MakeFatImage(dir);
  int status = -1;
  const auto lines = Cli("dump " + img + " 0", &status);
  EXPECT_EQ(status, 0);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], kSectorDumpHeader);
  EXPECT_EQ(lines[1].substr(0, 7), "000: EB");  // the boot sector's jump
  EXPECT_EQ(lines[16].substr(80, 5), "55AA ");  // the boot signature ends the sector
  EXPECT_EQ(lines[16].substr(115), "U.");
  EXPECT_EQ(Cli("dump " + img + " 2880 2>&1", &status),
            std::vector<std::string>{"Invalid sector range! SECTOR 2880: " + img + " has sectors 0 to 2879"});
  EXPECT_EQ(status, 2);
}

TEST(CliBackup, CopiesWholeSectorsByteForByte) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  test::TempDir dir;
  const std::string img = MakeFatImage(dir);
  test::WriteFileBytes(dir / "data", test::PatternBytes(200'000));  // fills the sectors of the range below
  ASSERT_EQ(test::Run("mcopy -i " + img + " " + (dir / "data") + " ::/data"), 0);
  const auto source = test::ReadFileBytes(img);
  ASSERT_EQ(test::Run("head -c 300 /dev/urandom >> " + img), 0);  // a partial sector, not copied

  int status = -1;
  const auto lines = Cli("backup " + img + " " + (dir / "copy.img") + " 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  // Finished, then where the image is and how large.
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Finished!");
  EXPECT_TRUE(lines.back().starts_with((dir / "copy.img") + "  (")) << lines.back();
  EXPECT_EQ(test::ReadFileBytes(dir / "copy.img"), source);

  Cli("backup " + img + " " + (dir / "part.img") + " --first 100 --last 199 >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::ReadFileBytes(dir / "part.img"),
            std::vector<std::uint8_t>(source.begin() + 51'200, source.begin() + 102'400));
  const auto info = Cli("info " + (dir / "part.img"), &status);
  ASSERT_GE(info.size(), 2u);
  EXPECT_EQ(info[1], "LastSector: 99");
  EXPECT_EQ(status, 0);
}

TEST(CliBackup, UnreadableSectorsEndWithStatus3AndAreListedInTheMap) {
  test::TempDir dir;
  const std::string img = dir / "disk.img";
  const auto bytes = test::PatternBytes(1 << 20);
  test::WriteFileBytes(img, bytes);
  const std::string copy = dir / "copy.img";
  int status = -1;
  const std::string printed =
      CliWithFaultySource(img, "102400:1024,524800:1", -1, "backup " + img + " " + copy, &status);
  EXPECT_EQ(status, 3) << printed;
  EXPECT_NE(printed.find("Finished! There're some bad sectors."), std::string::npos) << printed;
  EXPECT_NE(printed.find("Sectors not copied are listed for GNU ddrescue in " + copy + ".map"), std::string::npos)
      << printed;
  auto expected = bytes;
  std::fill_n(expected.begin() + 200 * 512, 2 * 512, 0);
  std::fill_n(expected.begin() + 1025 * 512, 512, 0);
  EXPECT_TRUE(test::ReadFileBytes(copy) == expected);
  if (test::HaveTool("ddrescuelog")) {
    EXPECT_EQ(test::RunOutput("ddrescuelog -l- " + copy + ".map"), "200\n201\n1025\n");
  }

  // Without unreadable sectors: status 0, and a map with nothing bad in it.
  EXPECT_NE(CliWithFaultySource(img, "", -1, "backup " + img + " " + copy, &status).find("Finished!"),
            std::string::npos);
  EXPECT_EQ(status, 0);
  if (test::HaveTool("ddrescuelog")) {
    EXPECT_EQ(test::RunOutput("ddrescuelog -l- " + copy + ".map"), "");
  }
}

TEST(CliBackup, CancelWithoutATerminalSaysWhatBecameOfTheImage) {
  test::TempDir dir;
  const std::string img = dir / "disk.img";
  test::WriteFileBytes(img, test::PatternBytes(4 << 20));
  const std::string copy = dir / "copy.img";
  int status = -1;
  // Ctrl-C while the second 128-sector chunk is read: it is taken before the
  // third chunk, the one then under way, which is finished; then the copy stops.
  const std::string printed = CliWithFaultySource(img, "", 65536 + 512, "backup " + img + " " + copy, &status);
  EXPECT_EQ(status, 1) << printed;
  EXPECT_NE(printed.find("Backup cancelled.\nThe unfinished image is kept as " + copy + "\n"), std::string::npos)
      << printed;
  EXPECT_NE(printed.find("Sectors not copied are listed for GNU ddrescue in " + copy + ".map"), std::string::npos)
      << printed;
  if (test::HaveTool("ddrescuelog")) {
    EXPECT_EQ(test::RunOutput("ddrescuelog -l? " + copy + ".map | head -n 1"), "384\n");
  }

  // Asked on a terminal, or told to, the unfinished image is deleted, and that is said too.
  EXPECT_NE(CliWithFaultySource(img, "", 65536 + 512, "backup " + img + " " + (dir / "other.img") + " --yes", &status)
                .find("Backup cancelled.\nThe unfinished image was deleted.\n"),
            std::string::npos);
  EXPECT_EQ(status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir / "other.img"));
  EXPECT_FALSE(std::filesystem::exists(dir / "other.img.map"));
}

}  // namespace
}  // namespace vellumark
