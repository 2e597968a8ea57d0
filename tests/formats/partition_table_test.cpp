// The partition tables as sfdisk and sgdisk write them: every partition
// where the tool put it, the extended chain followed to its logical
// partitions, and a table whose checksum no longer holds refused.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/partitions/partition_table.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

using Bytes = std::vector<std::uint8_t>;

ByteView SectorOf(const Bytes& disk, std::uint64_t sector) {
  return ByteView(disk.data(), disk.size()).Bytes(sector * 512, 512).value_or(ByteView());
}

TEST(PartitionTable, MbrWithExtendedPartitionsAsSfdiskWritesIt) {
  VELLUMARK_REQUIRE_TOOL("sfdisk");
  test::TempDir dir;
  const std::string disk = dir / "disk.img";
  ASSERT_EQ(test::Run("truncate -s 64M " + disk), 0);
  // A primary, an extended holding two logical partitions, another primary.
  ASSERT_EQ(test::Run("printf 'start=2048,size=20480,type=c\\nstart=22528,size=61440,type=5\\n"
                      "start=86016,size=8192,type=7\\nstart=24576,size=10240,type=83\\n"
                      "start=36864,size=20480,type=b\\n' | sfdisk -q -X dos " + disk + " >/dev/null 2>&1"),
            0);
  const Bytes bytes = test::ReadFileBytes(disk, 128 * 1024 * 512);
  const auto entries = ParseMbr(SectorOf(bytes, 0));
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 3u);
  EXPECT_EQ((*entries)[0], (MbrEntry{0x0C, 2048, 20480, false}));
  EXPECT_TRUE((*entries)[1].IsExtended());
  EXPECT_EQ((*entries)[2].firstLba, 86016u);
  EXPECT_FALSE(IsProtectiveMbr(*entries));

  // The chain: each record's partition relative to the record, the next
  // record relative to the extended partition.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> logical;  // absolute start, sectors
  const std::uint64_t extended = (*entries)[1].firstLba;
  std::uint64_t record = extended;
  for (int guard = 0; guard < 8; ++guard) {
    const auto ebr = ParseExtendedRecord(SectorOf(bytes, record));
    ASSERT_TRUE(ebr);
    ASSERT_TRUE(ebr->logical);
    logical.emplace_back(record + ebr->logical->firstLba, ebr->logical->sectorCount);
    if (ebr->nextRelative == 0) break;
    record = extended + ebr->nextRelative;
  }
  EXPECT_EQ(logical, (std::vector<std::pair<std::uint64_t, std::uint32_t>>{{24576, 10240}, {36864, 20480}}));
}

TEST(PartitionTable, BootSectorOfAFileSystemIsNoTable) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  test::TempDir dir;
  const Bytes boot = test::Made(dir, "mkfs.vfat -C -F 32 ", "fat.img", " 40000 >/dev/null 2>&1");
  ASSERT_GE(boot.size(), 512u);
  // Its code lies where a table's entries would, but lists no partition.
  EXPECT_FALSE(ParseMbr(ByteView(boot.data(), 512)));
}

TEST(PartitionTable, GptAsSgdiskWritesIt) {
  VELLUMARK_REQUIRE_TOOL("sgdisk");
  test::TempDir dir;
  const std::string disk = dir / "disk.img";
  ASSERT_EQ(test::Run("truncate -s 64M " + disk + " && sgdisk -n 1:2048:+20M -t 1:0700 -c 1:Documents "
                      "-n 2:0:+30M -t 2:8300 -c 2:'Zweite Ablage' " + disk + " >/dev/null"),
            0);
  const Bytes bytes = test::ReadFileBytes(disk, 64 * 512);
  const auto mbr = ParseMbr(SectorOf(bytes, 0));
  ASSERT_TRUE(mbr);
  EXPECT_TRUE(IsProtectiveMbr(*mbr));
  const auto header = ParseGptHeader(SectorOf(bytes, 1));
  ASSERT_TRUE(header);
  EXPECT_EQ(header->myLba, 1u);
  EXPECT_EQ(header->entriesLba, 2u);
  const ByteView all(bytes.data(), bytes.size());
  const auto entries = ParseGptEntries(all.From(header->entriesLba * 512).value(), *header);
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].firstLba, 2048u);
  EXPECT_EQ((*entries)[0].lastLba, 2048u + 20 * 2048 - 1);
  EXPECT_EQ((*entries)[0].name, "Documents");
  EXPECT_EQ((*entries)[1].firstLba, 2048u + 20 * 2048);
  EXPECT_EQ((*entries)[1].name, "Zweite Ablage");

  // One bit changed in the header or in an entry: neither is trusted.
  Bytes torn = bytes;
  torn[512 + 40] ^= 1;
  EXPECT_FALSE(ParseGptHeader(SectorOf(torn, 1)));
  torn = bytes;
  torn[2 * 512 + 32] ^= 1;
  const ByteView tornAll(torn.data(), torn.size());
  EXPECT_FALSE(ParseGptEntries(tornAll.From(1024).value(), *header));
}

}  // namespace
}  // namespace vellumark
