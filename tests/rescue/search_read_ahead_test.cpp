// The search's read-ahead classifies each sector exactly as the source holds
// it, across block boundaries, whether its blocks are read or mapped, and
// refuses whole blocks it could not bring, so that the search reads those
// the usual way.
#include "rescue/search_read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <tuple>

#include "access/memory_platform_source.h"
#include "rescue/sector_classifier.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

constexpr std::int64_t kBlock = SearchReadAhead::kBlockBytes;
const std::vector<std::uint8_t> kGif = {'G', 'I', 'F', '8', '9', 'a'};

// Sector size, and whether the source is an image file the platform maps.
class SearchReadAheadTest : public ::testing::TestWithParam<std::tuple<std::uint32_t, bool>> {
 protected:
  // A source of bytes long in which every third sector starts a GIF, so that
  // a sector taken for its neighbour shows in its code.
  void Open(std::int64_t bytes, const std::function<void()>& plant = {}) {
    auto owned = std::make_unique<MemoryPlatformSource>();
    platform = owned.get();
    image = test::PatternBytes(static_cast<std::size_t>(bytes));
    for (std::int64_t s = 0; s * SectorBytes() < bytes; s += 3) {
      std::copy(kGif.begin(), kGif.end(), image.begin() + s * SectorBytes());
    }
    if (plant) plant();
    auto& entry = platform->Add("/dev/stand-in", image);
    entry.sectorSize = std::get<0>(GetParam());
    entry.mappable = Mapped();
    source = std::make_unique<SectorSource>(std::move(owned));
    ASSERT_TRUE(source->OpenPartition("/dev/stand-in", "stand-in").ok());
    ASSERT_EQ(source->ScanGeometry().BytesPerSector, std::get<0>(GetParam()));
  }
  std::int64_t SectorBytes() const { return std::get<0>(GetParam()); }
  bool Mapped() const { return std::get<1>(GetParam()); }
  std::optional<FileTypeCode> Expected(std::int64_t sector) const {
    return ClassifySector(image.data() + sector * SectorBytes(), static_cast<std::size_t>(SectorBytes()));
  }
  // System reads of blocks, or mappings of them.
  int Brought() const { return Mapped() ? platform->MapCalls() : platform->ReadCalls(); }

  MemoryPlatformSource* platform = nullptr;
  std::unique_ptr<SectorSource> source;
  std::vector<std::uint8_t> image;
};

TEST_P(SearchReadAheadTest, ClassifiesEverySectorOfARangeThatStartsAndEndsInsideBlocks) {
  Open(3 * kBlock + 5 * SectorBytes());
  const std::int64_t first = 3, last = source->ScanGeometry().LastSector - 1;
  const int before = platform->ReadCalls();
  SearchReadAhead ahead(*source, first, last);
  EXPECT_EQ(ahead.Code(first - 1), std::nullopt);
  std::int64_t wrong = 0, gifs = 0;
  for (std::int64_t sector = first; sector <= last; ++sector) {
    const auto code = ahead.Code(sector);
    wrong += code != Expected(sector);
    gifs += code == code::kGif;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(gifs, (last + 2) / 3 - (first + 2) / 3 + (last % 3 == 0));
  EXPECT_EQ(ahead.Code(last + 1), std::nullopt);
  // A few large reads or mappings, not one per sector.
  EXPECT_LE(Brought() - (Mapped() ? 0 : before), 4);
  if (Mapped()) { EXPECT_EQ(platform->ReadCalls(), before); }
}

TEST_P(SearchReadAheadTest, AsksTheSystemForEachBlockBeforeItIsBrought) {
  Open(3 * kBlock);
  const std::int64_t perBlock = kBlock / SectorBytes();
  const std::int64_t first = 5, last = 2 * perBlock + 9;
  {
    SearchReadAhead ahead(*source, first, last);
    for (std::int64_t sector = first; sector <= last; sector += perBlock / 2) ahead.Code(sector);
  }
  const std::vector<std::pair<std::int64_t, std::int64_t>> blocks = {
      {first * SectorBytes(), kBlock - first * SectorBytes()},
      {kBlock, kBlock},
      {2 * kBlock, (last + 1) * SectorBytes() - 2 * kBlock},
  };
  EXPECT_EQ(platform->Advised(), blocks);
}

// Off the cluster starts only documents' headers count: a compound file's
// and a ZIP archive's are planted on every residue, beside the GIFs.
TEST_P(SearchReadAheadTest, ClassifiesTheClusterStartsAndDocumentsEverywhere) {
  const std::vector<std::uint8_t> compound = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  const std::vector<std::uint8_t> zip = {'P', 'K', 3, 4};
  Open(2 * kBlock, [&] {
    for (std::int64_t s = 1; (s + 1) * SectorBytes() <= 2 * kBlock; s += 7) {
      const auto& header = s % 2 == 0 ? compound : zip;
      std::copy(header.begin(), header.end(), image.begin() + s * SectorBytes());
    }
  });
  const std::int64_t last = source->ScanGeometry().LastSector;
  SearchReadAhead ahead(*source, 5, last, 8, 11);  // phase 11 is phase 3
  std::int64_t wrong = 0, documentsOff = 0, gifsOff = 0;
  for (std::int64_t sector = 5; sector <= last; ++sector) {
    const std::optional<FileTypeCode> expected = Expected(sector);
    const bool document = expected == code::kCompoundDocument || expected == code::kZip;
    const auto code = ahead.Code(sector);
    wrong += code != (sector % 8 == 3 || document ? expected : code::kNone);
    documentsOff += sector % 8 != 3 && document && code == expected;
    gifsOff += sector % 8 != 3 && code == code::kGif;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(documentsOff, 200);
  EXPECT_EQ(gifsOff, 0);
}

TEST_P(SearchReadAheadTest, JumpsOverBlocksAndStopsHalfWay) {
  Open(5 * kBlock);
  const std::int64_t perBlock = kBlock / SectorBytes();
  {
    SearchReadAhead ahead(*source, 0, source->ScanGeometry().LastSector);
    for (std::int64_t sector : {std::int64_t{1}, 3 * perBlock + 7, 4 * perBlock}) {
      EXPECT_EQ(ahead.Code(sector), Expected(sector)) << sector;
    }
  }  // ends without hanging, its reader told to stop
  SearchReadAhead unused(*source, 0, source->ScanGeometry().LastSector);
}

TEST_P(SearchReadAheadTest, ABlockThatFailsOrHoldsAKnownBadSectorIsNotServed) {
  Open(3 * kBlock);
  const std::int64_t perBlock = kBlock / SectorBytes();
  const std::int64_t bad = perBlock + 17;  // in the second block
  platform->FailReads(bad * SectorBytes(), SectorBytes());
  SearchReadAhead ahead(*source, 0, source->ScanGeometry().LastSector);
  EXPECT_EQ(ahead.Code(perBlock - 1), Expected(perBlock - 1));
  for (std::int64_t sector : {perBlock, bad, 2 * perBlock - 1}) EXPECT_EQ(ahead.Code(sector), std::nullopt) << sector;
  EXPECT_EQ(ahead.Code(2 * perBlock), Expected(2 * perBlock));
  // Nothing was learned: the search's own read of the sector does that.
  EXPECT_TRUE(source->UnreadableSectors().empty());

  // Once a sector is known to be bad, its block is not served even if a
  // read of it should succeed now (the window serves it as a failure too).
  std::vector<std::uint8_t> one(SectorBytes());
  EXPECT_FALSE(source->ReadDirect(one.data(), static_cast<std::uint32_t>(SectorBytes()), bad * SectorBytes()));
  platform->ClearFailures();
  SearchReadAhead again(*source, perBlock, 2 * perBlock - 1);
  EXPECT_EQ(again.Code(perBlock), std::nullopt);
}

TEST_P(SearchReadAheadTest, ASourceThatEndsEarlyLeavesItsLastBlockToTheUsualReads) {
  Open(2 * kBlock);
  platform->Find("/dev/stand-in")->bytes.resize(static_cast<std::size_t>(kBlock + kBlock / 2));
  platform->Find("/dev/stand-in")->sparseLength.reset();
  SearchReadAhead ahead(*source, 0, source->ScanGeometry().LastSector);
  EXPECT_EQ(ahead.Code(0), Expected(0));
  EXPECT_EQ(ahead.Code(kBlock / SectorBytes()), std::nullopt);
}

using MappedSearchReadAheadTest = SearchReadAheadTest;

TEST_P(MappedSearchReadAheadTest, PagesThatFailWhileClassifiedLeaveTheirBlockToTheUsualReads) {
  Open(2 * kBlock);
  platform->FailMappedReads();
  SearchReadAhead ahead(*source, 0, source->ScanGeometry().LastSector);
  for (std::int64_t sector : {std::int64_t{0}, kBlock / SectorBytes()}) EXPECT_EQ(ahead.Code(sector), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(SectorSizesReadOrMapped, SearchReadAheadTest,
                         ::testing::Combine(::testing::Values(512u, 4096u), ::testing::Bool()));
INSTANTIATE_TEST_SUITE_P(SectorSizes, MappedSearchReadAheadTest,
                         ::testing::Combine(::testing::Values(512u, 4096u), ::testing::Values(true)));

}  // namespace
}  // namespace vellumark
