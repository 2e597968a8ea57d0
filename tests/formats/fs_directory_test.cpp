// exFAT and ext4 directories as their drivers leave them: a deleted file's
// entry set (exFAT) or its name in the slack of the entry before it (ext4)
// is still read, with what the driver wrote about the file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/ext4/ext4_directory.h"
#include "formats/ext4/ext4_inode.h"
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

  // The removed name's inode, through its group's descriptor: debugfs
  // left its size and extents, and set its deletion time.
  const std::uint32_t number = entries[1].inode;
  const std::uint64_t group = (number - 1) / super->inodesPerGroup;
  const auto table = Ext4InodeTableBlock(
      all.Bytes((super->firstDataBlock + 1) * 1024 + group * super->descriptorSize, super->descriptorSize).value(),
      super->descriptorSize);
  ASSERT_TRUE(table);
  const auto inode = ParseExt4Inode(
      all.Bytes(*table * 1024 + (number - 1) % super->inodesPerGroup * super->inodeSize, super->inodeSize).value());
  ASSERT_TRUE(inode);
  EXPECT_TRUE(inode->regular);
  EXPECT_TRUE(inode->deleted);
  EXPECT_EQ(inode->links, 0);
  EXPECT_EQ(inode->size, 5000u);
  const auto root = ParseExt4ExtentNode(ByteView(inode->extentRoot.data(), inode->extentRoot.size()));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->depth, 0);
  ASSERT_EQ(root->extents.size(), 1u);
  EXPECT_EQ(root->extents[0].logical, 0u);
  EXPECT_EQ(root->extents[0].length, 5u);
  const std::string fileBlocks = test::RunOutput("debugfs -R 'blocks <" + std::to_string(number) + ">' " + image + " 2>/dev/null");
  EXPECT_EQ(root->extents[0].physical, std::stoull(fileBlocks));
  EXPECT_EQ(volume[root->extents[0].physical * 1024 + 4999], 'b');
}

// Extent nodes as the tree's bytes hold them: a leaf's extents (one marked
// unwritten by a length past 32,768), an index's children, and nodes the
// tree cannot have.
TEST(Ext4Extents, NodesOfTheTree) {
  const auto node = [](std::uint16_t magic, std::uint16_t entries, std::uint16_t depth,
                       const std::vector<std::array<std::uint32_t, 3>>& items, std::size_t size) {
    Bytes bytes(size, 0);
    const auto put16 = [&bytes](std::size_t at, std::uint32_t v) { bytes[at] = v & 0xFF, bytes[at + 1] = v >> 8 & 0xFF; };
    const auto put32 = [&](std::size_t at, std::uint32_t v) { put16(at, v & 0xFFFF), put16(at + 2, v >> 16); };
    put16(0, magic), put16(2, entries), put16(4, 4), put16(6, depth);
    for (std::size_t k = 0; k < items.size() && 12 + k * 12 + 12 <= size; ++k) {
      const std::size_t at = 12 + k * 12;
      put32(at, items[k][0]);
      if (depth == 0) {
        put16(at + 4, items[k][1]), put16(at + 6, 0), put32(at + 8, items[k][2]);
      } else {
        put32(at + 4, items[k][2]), put16(at + 8, 0);
      }
    }
    return bytes;
  };
  const Bytes leaf = node(0xF30A, 2, 0, {{0, 3, 700}, {3, 32768 + 5, 900}}, 60);
  const auto parsedLeaf = ParseExt4ExtentNode(ByteView(leaf.data(), leaf.size()));
  ASSERT_TRUE(parsedLeaf);
  ASSERT_EQ(parsedLeaf->extents.size(), 2u);
  EXPECT_EQ(parsedLeaf->extents[0].physical, 700u);
  EXPECT_EQ(parsedLeaf->extents[0].length, 3u);
  EXPECT_FALSE(parsedLeaf->extents[0].unwritten);
  EXPECT_EQ(parsedLeaf->extents[1].logical, 3u);
  EXPECT_EQ(parsedLeaf->extents[1].length, 5u);
  EXPECT_TRUE(parsedLeaf->extents[1].unwritten);

  const Bytes index = node(0xF30A, 1, 1, {{0, 0, 4242}}, 60);
  const auto parsedIndex = ParseExt4ExtentNode(ByteView(index.data(), index.size()));
  ASSERT_TRUE(parsedIndex);
  EXPECT_EQ(parsedIndex->children, std::vector<std::uint64_t>{4242});

  // A count past what 60 bytes hold gives the four that fit.
  const Bytes overfull = node(0xF30A, 200, 0, {{0, 1, 10}, {1, 1, 11}, {2, 1, 12}, {3, 1, 13}}, 60);
  EXPECT_EQ(ParseExt4ExtentNode(ByteView(overfull.data(), overfull.size()))->extents.size(), 4u);
  const Bytes noMagic = node(0xF30B, 1, 0, {{0, 1, 10}}, 60);
  EXPECT_FALSE(ParseExt4ExtentNode(ByteView(noMagic.data(), noMagic.size())));
  const Bytes tooDeep = node(0xF30A, 1, 6, {{0, 0, 10}}, 60);
  EXPECT_FALSE(ParseExt4ExtentNode(ByteView(tooDeep.data(), tooDeep.size())));
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

  // The allocation bitmap: a bit per cluster, the deleted file's cleared,
  // the live folder's set.
  const auto bitmap = FindExfatBitmap(all.Bytes(rootAt, clusterBytes).value());
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->length, (boot->clusterCount + 7) / 8);
  const std::uint64_t bitmapAt = boot->heapSector * 512 + (bitmap->firstCluster - 2) * clusterBytes;
  const auto inUse = [&](std::uint32_t cluster) { return (volume[bitmapAt + (cluster - 2) / 8] >> ((cluster - 2) % 8) & 1) != 0; };
  EXPECT_FALSE(inUse(report->firstCluster));
  EXPECT_TRUE(inUse(folder->firstCluster));
  EXPECT_TRUE(inUse(bitmap->firstCluster));
}

}  // namespace
}  // namespace vellumark
