// What a volume's records give of a deleted file's sectors: for FAT (12,
// 16 and 32 bits) and a fragmented exFAT file the free clusters from its
// first one on, which are its chain where nothing was freed after it; for a
// contiguous exFAT file every sector of it. The guess is made only for a
// file a document begins at.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "access/volume_map.h"
#include "rescue/volume_records.h"
#include "support/fat_volume.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const OriginalFile* Named(const std::vector<OriginalFile>& files, const std::string& name) {
  for (const OriginalFile& file : files) {
    if (file.name == name) return &file;
  }
  return nullptr;
}
// A pointer into a list that dies at the end of the statement would dangle.
const OriginalFile* Named(std::vector<OriginalFile>&& files, const std::string& name) = delete;

// The file's bytes as the runs give them from the image.
Bytes BytesOf(const std::string& image, const std::vector<SectorRun>& runs, std::size_t size) {
  const Bytes all = test::ReadFileBytes(image);
  Bytes bytes;
  for (const SectorRun& run : runs) {
    const auto from = static_cast<std::size_t>(run.first) * 512;
    const auto to = std::min(all.size(), from + static_cast<std::size_t>(run.count) * 512);
    if (from < to) bytes.insert(bytes.end(), all.begin() + static_cast<std::ptrdiff_t>(from), all.begin() + static_cast<std::ptrdiff_t>(to));
  }
  bytes.resize(std::min(bytes.size(), size));
  return bytes;
}

struct FatCase {
  int fatBits;
  int clusterSectors;
};

class FreeClusterGuess : public ::testing::TestWithParam<FatCase> {};

TEST_P(FreeClusterGuess, IsTheDeletedFilesChain) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("mshowfat");
  const FatCase c = GetParam();
  test::TempDir dir;
  test::FatVolume volume(dir, c.fatBits, c.clusterSectors);
  const std::vector<int> pieces{1, 3, 2, 4};
  const std::size_t size = 10 * volume.clusterBytes() - 300;
  const Bytes content = test::PatternBytes(size, 7);
  test::WriteFileBytes(dir / "content.bin", content);
  volume.WriteAround(dir.path() / "content.bin", "content-file.bin", pieces, [&](std::size_t i) {
    return std::make_pair("K" + std::to_string(i) + ".BIN", test::PatternBytes(volume.clusterBytes() / 2, 100 + static_cast<std::uint32_t>(i)));
  });
  std::vector<SectorRun> chain;
  for (const auto& [first, last] : volume.ClusterRuns("content-file.bin")) {
    chain.push_back({volume.FirstSectorOf(first), (last - first + 1) * c.clusterSectors});
  }
  ASSERT_EQ(chain.size(), pieces.size());
  volume.Delete("::content-file.bin");
  ASSERT_TRUE(volume.ok());

  SectorSource source(std::make_unique<PosixPlatformSource>());
  ASSERT_TRUE(source.OpenImageFile(volume.image()).ok());
  const auto regions = MapVolumes(source);
  ASSERT_EQ(regions.size(), 1u);
  const std::vector<OriginalFile> files = ReadVolumeRecords(source, regions, {chain.front().first});
  const OriginalFile* file = Named(files, "content-file.bin");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->deleted);
  EXPECT_EQ(file->firstSector, chain.front().first);
  EXPECT_EQ(file->size, size);
  EXPECT_TRUE(file->runsGuessed);
  EXPECT_EQ(file->runs, chain);
  EXPECT_TRUE(BytesOf(volume.image(), file->runs, size) == content);

  // No document begins there: nothing is guessed.
  const std::vector<OriginalFile> unguessedFiles = ReadVolumeRecords(source, regions, {});
  const OriginalFile* unguessed = Named(unguessedFiles, "content-file.bin");
  ASSERT_NE(unguessed, nullptr);
  EXPECT_TRUE(unguessed->runs.empty());
  EXPECT_FALSE(unguessed->runsGuessed);
}

INSTANTIATE_TEST_SUITE_P(Fats, FreeClusterGuess,
                         ::testing::Values(FatCase{12, 64}, FatCase{16, 4}, FatCase{32, 1}, FatCase{32, 8}),
                         [](const auto& info) {
                           return "Fat" + std::to_string(info.param.fatBits) + "_" + std::to_string(info.param.clusterSectors);
                         });

// exfat-fuse lays the contiguous file without a chain (its runs are the
// record's) and the other into the holes between kept files (its runs the
// bitmap's free clusters).
TEST(ExfatRecords, ContiguousFileIsReadStraightAndFragmentedOneFromTheBitmap) {
  VELLUMARK_REQUIRE_TOOL("mkfs.exfat");
  VELLUMARK_REQUIRE_TOOL("mount.exfat-fuse");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with exfat-fuse");
  test::TempDir dir;
  const Bytes whole = test::PatternBytes(50'000, 3);
  const Bytes scattered = test::PatternBytes(64'000, 4);  // 16 clusters: the 8 holes exactly
  test::WriteFileBytes(dir / "whole.bin", whole);
  test::WriteFileBytes(dir / "scattered.bin", scattered);
  const std::string image = dir / "exfat.img";
  ASSERT_EQ(test::WriteExfatVolume(image, "i=0; while [ $i -lt 8 ]; do head -c 8192 /dev/zero > h$i; "
                                          "head -c 4096 /dev/zero > k$i; i=$((i+1)); done; sync && rm h* && sync && cp " +
                                          (dir / "scattered.bin") + " scattered.bin && cp " + (dir / "whole.bin") +
                                          " whole.bin && sync && rm scattered.bin whole.bin"),
            0);
  SectorSource source(std::make_unique<PosixPlatformSource>());
  ASSERT_TRUE(source.OpenImageFile(image).ok());
  const auto regions = MapVolumes(source);
  ASSERT_EQ(regions.size(), 1u);
  const auto firstOf = [&](const std::string& name) {
    const std::vector<OriginalFile> all = ReadVolumeRecords(source, regions, {});
    const OriginalFile* file = Named(all, name);
    return file == nullptr ? -1 : file->firstSector;
  };
  const std::vector<OriginalFile> files = ReadVolumeRecords(source, regions, {firstOf("whole.bin"), firstOf("scattered.bin")});
  const OriginalFile* wholeFile = Named(files, "whole.bin");
  ASSERT_NE(wholeFile, nullptr);
  EXPECT_FALSE(wholeFile->runsGuessed);
  EXPECT_EQ(wholeFile->runs, (std::vector<SectorRun>{{wholeFile->firstSector, 13 * 8}}));
  EXPECT_TRUE(BytesOf(image, wholeFile->runs, whole.size()) == whole);
  const OriginalFile* scatteredFile = Named(files, "scattered.bin");
  ASSERT_NE(scatteredFile, nullptr);
  EXPECT_TRUE(scatteredFile->runsGuessed);
  EXPECT_GE(scatteredFile->runs.size(), 5u);
  EXPECT_TRUE(BytesOf(image, scatteredFile->runs, scattered.size()) == scattered);
}

}  // namespace
}  // namespace vellumark
