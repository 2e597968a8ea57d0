// The volumes of a disk as sfdisk and mkfs.vfat/mkntfs lay them out: each
// partition's volume found where the table puts it, with its own cluster
// grid, logical partitions included.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "access/volume_map.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

TEST(VolumeMap, PartitionsOfAnMbrDiskEachWithTheirLayout) {
  VELLUMARK_REQUIRE_TOOL("sfdisk");
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mkntfs");
  test::TempDir dir;
  const std::string disk = dir / "disk.img";
  // A FAT16 primary of 2 KiB clusters; in the extended partition an NTFS of
  // 4 KiB clusters and a FAT32 of 512-byte ones.
  ASSERT_EQ(test::Run("truncate -s 200M " + disk +
                      " && printf 'start=2048,size=40960,type=6\\nstart=43008,size=360000,type=5\\n"
                      "start=45056,size=40960,type=7\\nstart=88064,size=300000,type=c\\n' | sfdisk -q -X dos " + disk +
                      " >/dev/null 2>&1"),
            0);
  const auto place = [&](const std::string& make, std::int64_t start) {
    const std::string volume = dir / "volume.img";
    ASSERT_EQ(test::Run(make + " >/dev/null 2>&1 && dd if=" + volume + " of=" + disk + " bs=512 seek=" +
                        std::to_string(start) + " conv=notrunc status=none && rm " + volume),
              0);
  };
  place("mkfs.vfat -C -F 16 -s 4 " + (dir / "volume.img") + " 20480", 2048);
  place("truncate -s 20M " + (dir / "volume.img") + " && mkntfs -q -F -Q -c 4096 " + (dir / "volume.img"), 45056);
  place("mkfs.vfat -C -F 32 -s 1 " + (dir / "volume.img") + " 150000", 88064);

  SectorSource source(std::make_unique<PosixPlatformSource>());
  ASSERT_TRUE(source.OpenImageFile(disk).ok());
  const auto regions = MapVolumes(source);
  ASSERT_EQ(regions.size(), 3u);
  EXPECT_EQ(regions[0].kind, VolumeKind::Fat);
  EXPECT_EQ(regions[0].firstSector, 2048);
  EXPECT_EQ(regions[0].sectorsPerCluster, 4u);
  EXPECT_EQ(regions[1].kind, VolumeKind::Ntfs);
  EXPECT_EQ(regions[1].firstSector, 45056);
  EXPECT_EQ(regions[1].sectorsPerCluster, 8u);
  EXPECT_EQ(regions[1].SectorOfCluster(3), 45056 + 24);
  EXPECT_EQ(regions[1].phase, 0);
  EXPECT_EQ(regions[2].kind, VolumeKind::Fat32);
  EXPECT_EQ(regions[2].firstSector, 88064);
  EXPECT_EQ(regions[2].sectorsPerCluster, 1u);
  // FAT16's clusters begin after its fixed root directory.
  EXPECT_EQ(regions[0].SectorOfCluster(2) % 4, regions[0].phase);
  EXPECT_EQ(RegionHolding(regions, 45056 + 100), &regions[1]);
  EXPECT_EQ(RegionHolding(regions, 44000), nullptr);  // the extended partition's own record
}

}  // namespace
}  // namespace vellumark
