// The search's read-ahead serves each sector's bytes exactly as the source
// holds them, across block boundaries, and refuses whole blocks it could not
// read, so that the search reads those the usual way.
#include "rescue/search_read_ahead.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

constexpr std::int64_t kBlock = SearchReadAhead::kBlockBytes;

class SearchReadAheadTest : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  // A partition of sectors of the parameter's size, bytes long.
  void Open(std::int64_t bytes) {
    auto owned = std::make_unique<MemoryPlatformSource>();
    platform = owned.get();
    image = test::PatternBytes(static_cast<std::size_t>(bytes));
    platform->Add("/dev/stand-in", image).sectorSize = GetParam();
    source = std::make_unique<SectorSource>(std::move(owned));
    ASSERT_TRUE(source->OpenPartition("/dev/stand-in", "stand-in").ok());
    ASSERT_EQ(source->ScanGeometry().BytesPerSector, GetParam());
  }
  std::int64_t SectorBytes() const { return GetParam(); }
  bool Holds(const std::uint8_t* got, std::int64_t sector) const {
    return got != nullptr && std::memcmp(got, image.data() + sector * SectorBytes(), SectorBytes()) == 0;
  }

  MemoryPlatformSource* platform = nullptr;
  std::unique_ptr<SectorSource> source;
  std::vector<std::uint8_t> image;
};

TEST_P(SearchReadAheadTest, ServesEverySectorOfARangeThatStartsAndEndsInsideBlocks) {
  Open(3 * kBlock + 5 * SectorBytes());
  const std::int64_t first = 3, last = source->ScanGeometry().LastSector - 1;
  SearchReadAhead ahead(*source, first, last);
  EXPECT_EQ(ahead.Sector(first - 1), nullptr);
  std::int64_t wrong = 0;
  for (std::int64_t sector = first; sector <= last; ++sector) wrong += !Holds(ahead.Sector(sector), sector);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(ahead.Sector(last + 1), nullptr);
  // A few large reads, not one per sector (the cluster filter's jumps would
  // read the same).
  EXPECT_LE(platform->ReadCalls(), 1 + 4 + 1);
}

TEST_P(SearchReadAheadTest, JumpsOverBlocksAndStopsHalfWay) {
  Open(5 * kBlock);
  const std::int64_t perBlock = kBlock / SectorBytes();
  {
    SearchReadAhead ahead(*source, 0, source->ScanGeometry().LastSector);
    EXPECT_TRUE(Holds(ahead.Sector(1), 1));
    EXPECT_TRUE(Holds(ahead.Sector(3 * perBlock + 7), 3 * perBlock + 7));
    EXPECT_TRUE(Holds(ahead.Sector(4 * perBlock), 4 * perBlock));
  }  // ends without hanging, its reader told to stop
  SearchReadAhead unused(*source, 0, source->ScanGeometry().LastSector);
}

TEST_P(SearchReadAheadTest, ABlockThatFailsOrHoldsAKnownBadSectorIsNotServed) {
  Open(3 * kBlock);
  const std::int64_t perBlock = kBlock / SectorBytes();
  const std::int64_t bad = perBlock + 17;  // in the second block
  platform->FailReads(bad * SectorBytes(), SectorBytes());
  SearchReadAhead ahead(*source, 0, source->ScanGeometry().LastSector);
  EXPECT_TRUE(Holds(ahead.Sector(perBlock - 1), perBlock - 1));
  for (std::int64_t sector : {perBlock, bad, 2 * perBlock - 1}) EXPECT_EQ(ahead.Sector(sector), nullptr) << sector;
  EXPECT_TRUE(Holds(ahead.Sector(2 * perBlock), 2 * perBlock));
  // Nothing was learned: the search's own read of the sector does that.
  EXPECT_TRUE(source->UnreadableSectors().empty());

  // Once a sector is known to be bad, its block is not served even if a
  // read of it should succeed now (the window serves it as a failure too).
  std::vector<std::uint8_t> one(SectorBytes());
  EXPECT_FALSE(source->ReadDirect(one.data(), static_cast<std::uint32_t>(SectorBytes()), bad * SectorBytes()));
  platform->ClearFailures();
  SearchReadAhead again(*source, perBlock, 2 * perBlock - 1);
  EXPECT_EQ(again.Sector(perBlock), nullptr);
}

TEST_P(SearchReadAheadTest, ASourceThatEndsEarlyLeavesItsLastBlockToTheUsualReads) {
  Open(2 * kBlock);
  platform->Find("/dev/stand-in")->bytes.resize(static_cast<std::size_t>(kBlock + kBlock / 2));
  platform->Find("/dev/stand-in")->sparseLength.reset();
  SearchReadAhead ahead(*source, 0, source->ScanGeometry().LastSector);
  EXPECT_TRUE(Holds(ahead.Sector(0), 0));
  EXPECT_EQ(ahead.Sector(kBlock / SectorBytes()), nullptr);
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, SearchReadAheadTest, ::testing::Values(512u, 4096u));

}  // namespace
}  // namespace vellumark
