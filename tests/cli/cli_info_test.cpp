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

namespace vellumark {
namespace {

// exFAT and ext4 volumes, and the partitions of a GPT disk, each get a line
// with their own layout after the source's geometry.
TEST(CliInfo, VolumesTheGeometryCannotNameGetALineEach) {
  VELLUMARK_REQUIRE_TOOL("mkfs.exfat");
  VELLUMARK_REQUIRE_TOOL("mke2fs");
  VELLUMARK_REQUIRE_TOOL("sgdisk");
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  test::TempDir dir;
  ASSERT_EQ(test::Run("truncate -s 16M " + (dir / "exfat.img") + " && mkfs.exfat -c 8K " + (dir / "exfat.img") +
                      " >/dev/null 2>&1"),
            0);
  ASSERT_EQ(test::Run("truncate -s 16M " + (dir / "ext4.img") + " && mke2fs -q -t ext4 -b 4096 " + (dir / "ext4.img") +
                      " >/dev/null 2>&1"),
            0);
  const std::string disk = dir / "disk.img";
  ASSERT_EQ(test::Run("truncate -s 64M " + disk + " && sgdisk -n 1:2048:+40M " + disk + " >/dev/null 2>&1" +
                      " && mkfs.vfat -C -F 16 -s 8 " + (dir / "fat.img") + " 40960 >/dev/null 2>&1" +
                      " && dd if=" + (dir / "fat.img") + " of=" + disk + " bs=1M seek=1 conv=notrunc status=none"),
            0);
  const auto volumeLines = [](const std::string& out) {
    std::string lines;
    for (std::size_t at = out.find("Volume: "); at != std::string::npos; at = out.find("Volume: ", at + 1)) {
      lines += out.substr(at, out.find('\n', at) - at + 1);
    }
    return lines;
  };
  const std::string exfat = volumeLines(Cli("info " + (dir / "exfat.img"), nullptr));
  EXPECT_TRUE(exfat.starts_with("Volume: exFAT, sectors 0-32767, SectorsPerCluster 16, ClusterPhase ")) << exfat;
  EXPECT_EQ(volumeLines(Cli("info " + (dir / "ext4.img"), nullptr)),
            "Volume: ext4, sectors 0-32767, SectorsPerCluster 8, ClusterPhase 0\n");
  const std::string gpt = volumeLines(Cli("info " + disk, nullptr));
  EXPECT_TRUE(gpt.starts_with("Volume: FAT, sectors 2048-83967, SectorsPerCluster 8, ClusterPhase ")) << gpt;
}

}  // namespace
}  // namespace vellumark
