// vellumark-cli dump and backup on real FAT images.
#include <gtest/gtest.h>

#include <sstream>

#include "support/fixtures.h"
#include "viewer/sector_dump.h"

namespace vellumark {
namespace {

std::string Cli(const std::string& args, int* status) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " </dev/null", status);
}

std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A 1.44 MB FAT12 image: 2880 sectors, LastSector 2879.
std::string MakeFatImage(const test::TempDir& dir) {
  const std::string img = dir / "fat.img";
  EXPECT_EQ(test::Run("mkfs.vfat -C " + img + " 1440 >/dev/null 2>&1"), 0);
  return img;
}

TEST(CliDump, PrintsTheHeaderAndOneLinePer32Bytes) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  test::TempDir dir;
  const std::string img = MakeFatImage(dir);
  int status = -1;
  const auto lines = LinesOf(Cli("dump " + img + " 0", &status));
  EXPECT_EQ(status, 0);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], kSectorDumpHeader);
  EXPECT_EQ(lines[1].substr(0, 7), "000: EB");  // the boot sector's jump
  EXPECT_EQ(lines[16].substr(0, 5), "1E0: ");
  EXPECT_EQ(lines[16].substr(80, 5), "55AA ");  // the boot signature ends the sector
  EXPECT_EQ(lines[16].substr(115), "U.");
}

TEST(CliDump, SectorPastTheEndIsRefused) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  test::TempDir dir;
  const std::string img = MakeFatImage(dir);
  int status = -1;
  EXPECT_EQ(Cli("dump " + img + " 2879 >/dev/null", &status), "");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Cli("dump " + img + " 2880 2>&1", &status), "Invalid sector range!\n");
  EXPECT_EQ(status, 2);
}

TEST(CliBackup, WholeSourceIsCopiedByteForByte) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  test::TempDir dir;
  const std::string img = MakeFatImage(dir);
  const auto source = test::ReadFileBytes(img);
  ASSERT_EQ(test::Run("head -c 300 /dev/urandom >> " + img), 0);  // a partial sector at the end is not copied
  int status = -1;
  const auto lines = LinesOf(Cli("backup " + img + " " + (dir / "copy.img") + " 2>/dev/null", &status));
  EXPECT_EQ(status, 0);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "Finished!");
  EXPECT_EQ(test::ReadFileBytes(dir / "copy.img"), source);
}

TEST(CliBackup, RangeBecomesAnImageThatOpensAgain) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  test::TempDir dir;
  const std::string img = MakeFatImage(dir);
  test::WriteFileBytes(dir / "data", test::PatternBytes(200'000));  // fills the sectors copied below
  ASSERT_EQ(test::Run("mcopy -i " + img + " " + (dir / "data") + " ::/data"), 0);
  const auto source = test::ReadFileBytes(img);
  const std::string part = dir / "part.img";
  int status = -1;
  Cli("backup " + img + " " + part + " --first 100 --last 199 >/dev/null 2>&1", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(test::ReadFileBytes(part), std::vector<std::uint8_t>(source.begin() + 51'200, source.begin() + 102'400));
  EXPECT_NE(Cli("info " + part, &status).find("LastSector: 99\n"), std::string::npos);
  EXPECT_EQ(status, 0);
}

}  // namespace
}  // namespace vellumark
