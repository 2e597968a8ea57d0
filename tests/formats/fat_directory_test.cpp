// FAT directories as mtools leaves them: a deleted file's entry keeps its
// long name (whose first character the checksum gives back), its first
// cluster, size and times; files beside it are read as they are.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/fat/fat_directory.h"
#include "support/fat_volume.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const FatDirectoryEntry* Named(const std::vector<FatDirectoryEntry>& entries, const std::string& name) {
  for (const FatDirectoryEntry& entry : entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

TEST(FatDirectory, DeletedLongNamesComeBackWhole) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("mshowfat");
  test::TempDir dir;
  test::FatVolume volume(dir, 32, 8);
  ASSERT_TRUE(volume.ok());
  volume.Add("kept.txt", Bytes(5000, 'k'));
  // 27 characters: three long-name entries.
  test::WriteFileBytes(dir / "quarterly", Bytes(9000, 'q'));
  volume.Copy(dir / "quarterly", "'Quarterly report final.doc'");
  volume.Add("short.TXT", Bytes(100, 's'));
  volume.Add("Éléments.doc", Bytes(700, 'e'));
  const auto runs = volume.ClusterRuns("'Quarterly report final.doc'");
  ASSERT_FALSE(runs.empty());
  volume.Delete("'::Quarterly report final.doc' ::Éléments.doc");
  ASSERT_TRUE(volume.ok());

  const Bytes image = test::ReadFileBytes(volume.image(), 4 << 20);
  const auto boot = ParseFatBootSector(ByteView(image.data(), 512));
  ASSERT_TRUE(boot);
  EXPECT_EQ(boot->fatBits, 32);
  EXPECT_EQ(boot->sectorsPerCluster, 8u);
  EXPECT_EQ(boot->rootCluster, 2u);
  EXPECT_EQ(static_cast<std::int64_t>(boot->firstDataSector), volume.FirstSectorOf(2));
  const ByteView root = ByteView(image.data(), image.size()).Bytes(boot->firstDataSector * 512, 4096).value();
  const auto entries = ParseFatDirectory(root);

  const FatDirectoryEntry* report = Named(entries, "Quarterly report final.doc");
  ASSERT_NE(report, nullptr);
  EXPECT_TRUE(report->deleted);
  EXPECT_EQ(report->firstCluster, runs[0].first);
  EXPECT_EQ(report->size, 9000u);
  EXPECT_EQ(report->shortName.substr(0, 1), "Q");  // given back by the checksum
  ASSERT_TRUE(report->modified);
  EXPECT_GE(report->modified->year, 2020);

  const FatDirectoryEntry* accented = Named(entries, "Éléments.doc");
  ASSERT_NE(accented, nullptr);
  EXPECT_TRUE(accented->deleted);
  EXPECT_EQ(accented->size, 700u);

  const FatDirectoryEntry* kept = Named(entries, "kept.txt");
  ASSERT_NE(kept, nullptr);
  EXPECT_FALSE(kept->deleted);
  EXPECT_EQ(kept->size, 5000u);
  const FatDirectoryEntry* plain = Named(entries, "short.TXT");
  ASSERT_NE(plain, nullptr) << "an 8.3 name written in mixed case keeps a long name";
  EXPECT_FALSE(plain->deleted);
}

// Short entries whose fields are read as FAT stores them, and long-name
// pieces that do not belong to the entry after them.
TEST(FatDirectory, EntriesBuiltByHand) {
  Bytes sector(512, 0);
  const auto entry = [&](std::size_t index, const char* name83, std::uint8_t attributes, std::uint32_t cluster,
                         std::uint32_t size) {
    std::uint8_t* e = sector.data() + 32 * index;
    std::memcpy(e, name83, 11);
    e[11] = attributes;
    e[20] = static_cast<std::uint8_t>(cluster >> 16), e[21] = static_cast<std::uint8_t>(cluster >> 24);
    e[26] = static_cast<std::uint8_t>(cluster), e[27] = static_cast<std::uint8_t>(cluster >> 8);
    for (int i = 0; i < 4; ++i) e[28 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    e[24] = 0x21, e[25] = 0x5A;  // 2025-01-01
    e[22] = 0x00, e[23] = 0x60;  // 12:00:00
  };
  entry(0, "VOLUME     ", 0x08, 0, 0);
  entry(1, ".          ", 0x10, 5, 0);
  entry(2, "\xE5OST    DOC", 0x20, 0x12345, 4096);
  // A long-name piece with a checksum of some other short name.
  entry(3, "\x41X\0Y\0Z\0\0\0\xFF\xFF", 0x0F, 0, 0);
  sector[32 * 3 + 13] = 0x00;
  entry(4, "NAME    TXT", 0x20, 9, 12);
  entry(5, "SUB        ", 0x10, 40, 0);
  const auto entries = ParseFatDirectory(ByteView(sector.data(), sector.size()));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, "_OST.DOC");
  EXPECT_TRUE(entries[0].deleted);
  EXPECT_EQ(entries[0].firstCluster, 0x12345u);
  EXPECT_EQ(entries[0].size, 4096u);
  ASSERT_TRUE(entries[0].modified);
  EXPECT_EQ(FatTimestampText(*entries[0].modified), "2025-01-01 12:00:00");
  EXPECT_EQ(entries[1].name, "NAME.TXT");
  EXPECT_EQ(entries[1].offset, 4u * 32);
  EXPECT_TRUE(entries[2].directory);
  // The end mark stops the walk even with entries after it.
  sector[32 * 4] = 0;
  EXPECT_EQ(ParseFatDirectory(ByteView(sector.data(), sector.size())).size(), 1u);
}

}  // namespace
}  // namespace vellumark
