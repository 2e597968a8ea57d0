// exFAT and ext4 directories as their drivers leave them: a deleted file's
// entry set (exFAT) or its name in the slack of the entry before it (ext4)
// is still read, with what the driver wrote about the file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/ext4/ext4_directory.h"
#include "formats/fat/exfat_directory.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

TEST(Ext4Directory, DeletedNameInThePreviousEntrysSlack) {
  VELLUMARK_REQUIRE_TOOL("mke2fs");
  VELLUMARK_REQUIRE_TOOL("debugfs");
  test::TempDir dir;
  const fs::path tree = dir.path() / "tree";
  fs::create_directories(tree / "sub");
  test::WriteFileBytes((tree / "Bericht lang.doc").string(), Bytes(5000, 'b'));
  test::WriteFileBytes((tree / "a.txt").string(), Bytes(3, 'a'));
  test::WriteFileBytes((tree / "c.doc").string(), Bytes(3000, 'c'));
  const std::string image = dir / "ext4.img";
  ASSERT_EQ(test::Run("truncate -s 8M " + image + " && mke2fs -q -t ext4 -b 1024 -d " + tree.string() + " " + image +
                      " && debugfs -w -R 'rm \"/Bericht lang.doc\"' " + image + " >/dev/null 2>&1"),
            0);
  const std::string blocks = test::RunOutput("debugfs -R 'blocks /' " + image + " 2>/dev/null");
  ASSERT_FALSE(blocks.empty());
  const std::uint64_t rootBlock = std::stoull(blocks);
  const Bytes volume = test::ReadFileBytes(image);
  const ByteView all(volume.data(), volume.size());
  const auto super = ParseExt4Superblock(all);
  ASSERT_TRUE(super);
  EXPECT_EQ(super->blockSize, 1024u);
  EXPECT_EQ(super->blockCount, 8192u);

  const auto entries = ParseExt4DirectoryBlock(all.Bytes(rootBlock * 1024, 1024).value());
  std::vector<std::pair<std::string, bool>> names;
  for (const Ext4DirectoryEntry& entry : entries) names.emplace_back(entry.name, entry.deleted);
  EXPECT_EQ(names, (std::vector<std::pair<std::string, bool>>{
                       {"lost+found", false}, {"Bericht lang.doc", true}, {"a.txt", false}, {"c.doc", false}, {"sub", false}}));
  EXPECT_NE(entries[1].inode, 0u);
  EXPECT_EQ(entries[1].fileType, 1);
}

TEST(ExfatDirectory, DeletedEntrySetKeepsNameClusterAndSize) {
  VELLUMARK_REQUIRE_TOOL("mkfs.exfat");
  VELLUMARK_REQUIRE_TOOL("mount.exfat-fuse");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with exfat-fuse");
  test::TempDir dir;
  const std::string image = dir / "exfat.img";
  ASSERT_EQ(test::Run("truncate -s 16M " + image + " && mkfs.exfat -c 4K " + image + " >/dev/null 2>&1"), 0);
  const std::string mount = dir / "mnt";
  fs::create_directory(mount);
  int written = -1;
  {
    test::LoopDevice loop(image);
    VELLUMARK_REQUIRE(!loop.path().empty(), "a loop device");
    ASSERT_EQ(test::Run("mount.exfat-fuse " + loop.path() + " " + mount + " >/dev/null 2>&1"), 0);
    written = test::Run("head -c 300000 /dev/zero | tr '\\0' 'x' > '" + mount + "/Ein ziemlich langer Bericht.doc' && mkdir " +
                        mount + "/Ablage && echo kept > " + mount + "/Ablage/k.txt && sync && rm '" + mount +
                        "/Ein ziemlich langer Bericht.doc'");
    ASSERT_EQ(test::Run("umount " + mount), 0);
  }
  ASSERT_EQ(written, 0);
  const Bytes volume = test::ReadFileBytes(image);
  const ByteView all(volume.data(), volume.size());
  const auto boot = ParseExfatBootSector(all);
  ASSERT_TRUE(boot);
  EXPECT_EQ(boot->bytesPerSector, 512u);
  EXPECT_EQ(boot->sectorsPerCluster, 8u);
  const std::uint64_t clusterBytes = 4096;
  const std::uint64_t rootAt = (boot->heapSector * 512) + (boot->rootCluster - 2) * clusterBytes;
  const auto entries = ParseExfatDirectory(all.Bytes(rootAt, clusterBytes).value());
  const ExfatFileEntry* report = nullptr;
  const ExfatFileEntry* folder = nullptr;
  for (const ExfatFileEntry& entry : entries) {
    if (entry.name == "Ein ziemlich langer Bericht.doc") report = &entry;
    if (entry.name == "Ablage") folder = &entry;
  }
  ASSERT_NE(report, nullptr);
  EXPECT_TRUE(report->deleted);
  EXPECT_EQ(report->size, 300000u);
  EXPECT_TRUE(report->modified);
  ASSERT_GE(report->firstCluster, 2u);
  // Its first cluster still holds what was written.
  const std::uint64_t dataAt = boot->heapSector * 512 + (report->firstCluster - 2) * clusterBytes;
  ASSERT_TRUE(all.Has(dataAt, clusterBytes));
  EXPECT_EQ(volume[dataAt], 'x');
  EXPECT_EQ(volume[dataAt + clusterBytes - 1], 'x');
  ASSERT_NE(folder, nullptr);
  EXPECT_FALSE(folder->deleted);
  EXPECT_TRUE(folder->directory);
}

}  // namespace
}  // namespace vellumark
