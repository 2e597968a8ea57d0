// The command-line front end, run as a user would run it.
#include <gtest/gtest.h>

#include "support/fixtures.h"

namespace vellumark {
namespace {

std::string Cli(const std::string& args, int* status, const std::string& env = "LANG=C LC_ALL= LC_MESSAGES=") {
  return test::RunOutput(env + " " VELLUMARK_CLI " " + args, status);
}

TEST(CliInfo, PrintsTheGeometryOfAFat32Image) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  test::TempDir dir;
  const std::string img = dir / "fat32.img";
  // mkfs.vfat sizes the FAT; the phase follows from it and the 32 reserved sectors.
  ASSERT_EQ(test::Run("mkfs.vfat -C -F 32 -s 4 -R 32 " + img + " 100000 2>/dev/null >/dev/null"), 0);
  const auto boot = test::ReadFileBytes(img, 512);
  const std::int64_t fatSize = boot[36] | boot[37] << 8 | boot[38] << 16;
  const std::int64_t phase = (32 + 2 * fatSize) % 4;

  int status = -1;
  const std::string out = Cli("info " + img, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "BytesPerSector: 512\nLastSector: 199999\nSectorsPerCluster: 4\nClusterPhase: " +
                     std::to_string(phase) + "\nFileSystemType: FAT32\nSectors: 200000\n");
}

TEST(CliInfo, RandomBytesAreAnUnknownFileSystem) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "random.img", test::PatternBytes(1'000'000));
  int status = -1;
  EXPECT_EQ(Cli("info " + (dir / "random.img"), &status),
            "BytesPerSector: 512\nLastSector: 1952\nSectorsPerCluster: 1\nClusterPhase: -1\n"
            "FileSystemType: OTHER\nSectors: 1953\n");
  EXPECT_EQ(status, 0);
}

TEST(CliInfo, UnopenableSourceShowsTheMessageInTheUsersLanguageWithThePathAndWhy) {
  int status = -1;
  EXPECT_EQ(Cli("info /nonexistent/disk.img 2>&1", &status),
            "Failed to open file! /nonexistent/disk.img: No such file or directory\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Cli("info /nonexistent/disk.img 2>&1", &status, "LC_ALL=zh_CN.UTF-8"),
            "打开文件失败! /nonexistent/disk.img: No such file or directory\n");
  EXPECT_EQ(Cli("info /dev/null 2>&1", &status, "LC_ALL= LC_MESSAGES= LANG=zh_TW.UTF-8"),
            "打開檔案失敗! /dev/null: 這是字元裝置, 不是分區或映像檔案\n");
  EXPECT_EQ(status, 1);
}

TEST(CliInfo, UsageErrorsExitWithTwo) {
  int status = -1;
  EXPECT_NE(Cli("--help", &status).find("info SOURCE"), std::string::npos);
  EXPECT_EQ(status, 0);
  Cli("2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  Cli("info 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  Cli("frobnicate 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
}

}  // namespace
}  // namespace vellumark
