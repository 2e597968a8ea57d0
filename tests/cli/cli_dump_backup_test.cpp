// vellumark-cli dump and backup on a real FAT image.
#include <gtest/gtest.h>

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
  EXPECT_EQ(lines.empty() ? "" : lines.back(), "Finished!");
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

}  // namespace
}  // namespace vellumark
