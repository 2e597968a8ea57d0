#include "access/boot_sector.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "access/memory_platform_source.h"
#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

struct BootFields {
  const char* labelAt54 = "";
  const char* labelAt82 = "";
  const char* oemName = "";
  std::uint16_t bytesPerSector = 512;
  std::uint8_t sectorsPerCluster = 1;
  std::uint16_t reserved = 0;
  std::uint8_t fats = 0;
  std::uint16_t rootEntries = 0;
  std::uint16_t fatSize16 = 0;
  std::uint32_t fatSize32 = 0;
};

std::vector<std::uint8_t> MakeBootSector(const BootFields& f) {
  std::vector<std::uint8_t> s(512, 0);
  auto put16 = [&](int at, std::uint16_t v) { s[at] = v & 0xFF; s[at + 1] = static_cast<std::uint8_t>(v >> 8); };
  std::memcpy(&s[3], f.oemName, std::strlen(f.oemName));
  std::memcpy(&s[54], f.labelAt54, std::strlen(f.labelAt54));
  std::memcpy(&s[82], f.labelAt82, std::strlen(f.labelAt82));
  put16(11, f.bytesPerSector);
  s[13] = f.sectorsPerCluster;
  put16(14, f.reserved);
  s[16] = f.fats;
  put16(17, f.rootEntries);
  put16(22, f.fatSize16);
  put16(36, static_cast<std::uint16_t>(f.fatSize32));
  put16(38, static_cast<std::uint16_t>(f.fatSize32 >> 16));
  return s;
}

struct ParseCase {
  const char* name;
  BootFields fields;
  bool recognised;
  std::uint8_t type;
  std::int32_t phase;
};

class ParseBootSectorTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseBootSectorTest, ReadsTypeAndPhase) {
  const ParseCase& c = GetParam();
  const auto sector = MakeBootSector(c.fields);
  const auto info = ParseBootSector(sector.data());
  ASSERT_EQ(info.has_value(), c.recognised);
  if (!info) return;
  EXPECT_EQ(info->FileSystemType, c.type);
  EXPECT_EQ(info->ClusterPhase, c.phase);
  EXPECT_EQ(info->BytesPerSector, c.fields.bytesPerSector);
  EXPECT_EQ(info->SectorsPerCluster, c.fields.sectorsPerCluster);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ParseBootSectorTest,
    ::testing::Values(
        // 1 + 2 * 200 + 512 * 32 / 512 = 433; 433 mod 4 = 1
        ParseCase{"Fat16", {.labelAt54 = "FAT16   ", .sectorsPerCluster = 4, .reserved = 1, .fats = 2,
                            .rootEntries = 512, .fatSize16 = 200}, true, kFileSystemFat, 1},
        ParseCase{"Fat12", {.labelAt54 = "FAT12   ", .sectorsPerCluster = 4, .reserved = 1, .fats = 2,
                            .rootEntries = 224, .fatSize16 = 9}, true, kFileSystemFat, 1},  // 1 + 18 + 14 = 33
        // 32 + 2 * 7000 = 14032; the FAT16 size field is ignored on FAT32
        ParseCase{"Fat32", {.labelAt82 = "FAT32   ", .sectorsPerCluster = 8, .reserved = 32, .fats = 2,
                            .fatSize16 = 5, .fatSize32 = 7000}, true, kFileSystemFat32, 0},
        ParseCase{"Fat32LargeFat", {.labelAt82 = "FAT32   ", .sectorsPerCluster = 64, .reserved = 38, .fats = 2,
                                    .fatSize32 = 0x00ABCDEF}, true, kFileSystemFat32,
                  static_cast<std::int32_t>((38 + 2 * 0x00ABCDEFLL) % 64)},
        // 1 + 201 + 32 = 234: one FAT, not two
        ParseCase{"Fat16OneFat", {.labelAt54 = "FAT16   ", .sectorsPerCluster = 4, .reserved = 1, .fats = 1,
                                  .rootEntries = 512, .fatSize16 = 201}, true, kFileSystemFat, 2},
        // 32 + 2 * 0x12345 = 149,162. Clusters of a power of two sectors never
        // show the FAT size's high half in the phase; one of six sectors does.
        ParseCase{"Fat32FatSizeHighHalf", {.labelAt82 = "FAT32   ", .sectorsPerCluster = 6, .reserved = 32, .fats = 2,
                                           .fatSize16 = 0, .fatSize32 = 0x00012345}, true, kFileSystemFat32, 2},
        ParseCase{"NtfsPhaseIsZero", {.oemName = "NTFS    ", .sectorsPerCluster = 8, .reserved = 3, .fats = 1,
                                      .fatSize16 = 1}, true, kFileSystemNtfs, 0},
        ParseCase{"Fat16LabelWinsOverFat32", {.labelAt54 = "FAT16   ", .labelAt82 = "FAT32   ", .sectorsPerCluster = 2,
                                              .reserved = 1, .fats = 2, .fatSize16 = 10, .fatSize32 = 999},
                  true, kFileSystemFat, 1},
        ParseCase{"BlankPaddingMatters", {.labelAt54 = "FAT16", .sectorsPerCluster = 1}, false, 0, 0},
        ParseCase{"CaseMatters", {.oemName = "ntfs    ", .sectorsPerCluster = 8}, false, 0, 0},
        ParseCase{"GenericFatLabel", {.labelAt54 = "FAT     ", .sectorsPerCluster = 1}, false, 0, 0},
        ParseCase{"ZeroBytesPerSector", {.labelAt54 = "FAT16   ", .bytesPerSector = 0, .sectorsPerCluster = 4},
                  false, 0, 0},
        ParseCase{"SectorSmallerThanItsHeader", {.labelAt54 = "FAT16   ", .bytesPerSector = 256, .sectorsPerCluster = 4},
                  false, 0, 0},
        ParseCase{"SectorSizeNotAPowerOfTwo", {.labelAt82 = "FAT32   ", .bytesPerSector = 1000, .sectorsPerCluster = 8},
                  false, 0, 0},
        ParseCase{"ZeroSectorsPerCluster", {.labelAt82 = "FAT32   ", .sectorsPerCluster = 0}, false, 0, 0},
        ParseCase{"NtfsZeroSectorsPerCluster", {.oemName = "NTFS    ", .sectorsPerCluster = 0}, false, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// Offset of the first sector that starts with the marker, or -1.
std::int64_t FindSector(const std::vector<std::uint8_t>& image, const std::string& marker, std::uint32_t bytesPerSector) {
  for (std::size_t at = 0; at + marker.size() <= image.size(); at += bytesPerSector) {
    if (std::memcmp(image.data() + at, marker.data(), marker.size()) == 0) return static_cast<std::int64_t>(at / bytesPerSector);
  }
  return -1;
}

struct MkfsCase {
  const char* name;
  const char* options;
  int sizeKiB;
  std::uint8_t type;
  std::uint32_t bytesPerSector;
  std::uint32_t sectorsPerCluster;
};

class RealFatImageTest : public ::testing::TestWithParam<MkfsCase> {};

// mkfs.vfat lays the volume out; a file copied in with mtools lands at the
// start of a cluster, whose sector number must sit on the phase we compute.
TEST_P(RealFatImageTest, GeometryMatchesWhereMtoolsPutsClusters) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  const MkfsCase& c = GetParam();
  test::TempDir dir;
  const std::string img = dir / "fat.img";
  const std::string marker = "VELLUMARK-CLUSTER-MARKER";
  test::WriteFileBytes(dir / "marker.bin", std::vector<std::uint8_t>(marker.begin(), marker.end()));
  ASSERT_EQ(test::Run("mkfs.vfat -C " + std::string(c.options) + " " + img + " " + std::to_string(c.sizeKiB) +
                      " >/dev/null 2>&1 && MTOOLS_SKIP_CHECK=1 mcopy -i " + img + " " + (dir / "marker.bin") + " ::MARKER.BIN"),
            0);

  SectorSource source(std::make_unique<PosixPlatformSource>());
  const OpenResult opened = source.OpenImageFile(img);
  ASSERT_TRUE(opened.ok());
  EXPECT_TRUE(opened.bootSectorRecognised);
  const VolumeGeometry& g = source.ScanGeometry();
  EXPECT_EQ(g.FileSystemType, c.type);
  EXPECT_EQ(g.BytesPerSector, c.bytesPerSector);
  EXPECT_EQ(g.SectorsPerCluster, c.sectorsPerCluster);
  EXPECT_EQ(g.LastSector, c.sizeKiB * 1024LL / c.bytesPerSector - 1);

  const std::int64_t markerSector = FindSector(test::ReadFileBytes(img, 32 << 20), marker, c.bytesPerSector);
  ASSERT_GE(markerSector, 0);
  EXPECT_EQ(markerSector % g.SectorsPerCluster, g.ClusterPhase) << "file at sector " << markerSector;
}

INSTANTIATE_TEST_SUITE_P(
    Mkfs, RealFatImageTest,
    ::testing::Values(MkfsCase{"Fat12OneSector", "-F 12 -s 1", 1440, kFileSystemFat, 512, 1},
                      MkfsCase{"Fat12FourSectors", "-F 12 -s 4 -R 3", 4096, kFileSystemFat, 512, 4},
                      MkfsCase{"Fat16TwoSectors", "-F 16 -s 2", 8192, kFileSystemFat, 512, 2},
                      MkfsCase{"Fat16SixteenSectors", "-F 16 -s 16 -R 5 -r 1024", 65536, kFileSystemFat, 512, 16},
                      MkfsCase{"Fat32OneSector", "-F 32 -s 1", 40960, kFileSystemFat32, 512, 1},
                      MkfsCase{"Fat32EightSectors", "-F 32 -s 8 -R 33", 300000, kFileSystemFat32, 512, 8},
                      // One FAT, and no alignment of the data area to the clusters.
                      MkfsCase{"Fat12OneFat", "-F 12 -s 4 -f 1 -a", 4096, kFileSystemFat, 512, 4},
                      MkfsCase{"Fat32OneFat", "-F 32 -s 8 -f 1 -a", 300000, kFileSystemFat32, 512, 8},
                      MkfsCase{"Fat32LargeSectors", "-F 32 -S 4096 -s 1", 300000, kFileSystemFat32, 4096, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A source shorter than a boot sector has none, whatever its first bytes
// say: the fields past its end were never read.
TEST(BootSectorProbe, SourceShorterThanABootSectorHasNone) {
  const auto boot = MakeBootSector({.labelAt54 = "FAT16   ", .sectorsPerCluster = 4, .reserved = 1, .fats = 2,
                                    .rootEntries = 512, .fatSize16 = 200});
  ASSERT_TRUE(ParseBootSector(boot.data()).has_value());
  for (const std::size_t length : {std::size_t{62}, std::size_t{100}, std::size_t{511}}) {
    SCOPED_TRACE(length);
    auto owned = std::make_unique<MemoryPlatformSource>();
    owned->Add("short.img", std::vector<std::uint8_t>(boot.begin(), boot.begin() + static_cast<std::ptrdiff_t>(length)));
    ASSERT_TRUE(owned->Open("short.img"));
    EXPECT_FALSE(ProbeBootSector(*owned).has_value());
    SectorSource source(std::move(owned));
    const OpenResult opened = source.OpenImageFile("short.img");
    EXPECT_FALSE(opened.bootSectorRecognised);
    EXPECT_EQ(source.ScanGeometry().FileSystemType, kFileSystemOther);
  }
}

TEST(RealNtfsImageTest, MkntfsVolumeIsNtfsWithPhaseZero) {
  VELLUMARK_REQUIRE_TOOL("mkntfs");
  test::TempDir dir;
  const std::string img = dir / "ntfs.img";
  ASSERT_EQ(test::Run("truncate -s 16M " + img + " && mkntfs -q -F -Q -s 512 -c 4096 " + img + " >/dev/null 2>&1"), 0);
  SectorSource source(std::make_unique<PosixPlatformSource>());
  ASSERT_TRUE(source.OpenImageFile(img).ok());
  const VolumeGeometry& g = source.ScanGeometry();
  EXPECT_EQ(g.FileSystemType, kFileSystemNtfs);
  EXPECT_EQ(g.BytesPerSector, 512u);
  EXPECT_EQ(g.SectorsPerCluster, 8u);
  EXPECT_EQ(g.ClusterPhase, 0);
  EXPECT_EQ(g.LastSector, 16 * 2048 - 1);
}

}  // namespace
}  // namespace vellumark
