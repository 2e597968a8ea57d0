// The claim map answers as one bit per sector would, whatever the chunk a
// sector falls in, and holds memory only for chunks with claims in them.
#include "rescue/claim_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vellumark {
namespace {

constexpr std::int64_t kChunk = ClaimMap::kSectorsPerChunk;

TEST(ClaimMap, SectorsAtChunkAndWordEdgesAreClaimedAloneAndReleased) {
  const std::int64_t last = 3 * kChunk + 5;  // the last chunk is partly covered
  const std::int64_t edges[] = {0, 31, 32, 63, 64, kChunk - 1, kChunk, kChunk + 1, 2 * kChunk - 1, 3 * kChunk, last};
  for (const std::int64_t sector : edges) {
    SCOPED_TRACE(sector);
    ClaimMap map(last);
    map.ClaimSector(sector);
    EXPECT_TRUE(map.IsSectorClaimed(sector));
    EXPECT_FALSE(map.IsSectorClaimed(sector - 1));
    EXPECT_FALSE(map.IsSectorClaimed(sector + 1));
    EXPECT_EQ(map.CountClaimed(), 1);
    EXPECT_EQ(map.AllocatedChunks(), 1u);
    map.ClaimSector(sector);  // a second claim changes nothing
    EXPECT_EQ(map.CountClaimed(), 1);
    map.ReleaseSector(sector);
    EXPECT_FALSE(map.IsSectorClaimed(sector));
    EXPECT_EQ(map.CountClaimed(), 0);
    EXPECT_EQ(map.AllocatedChunks(), 0u);
  }
}

TEST(ClaimMap, SectorsOutsideTheMapReadFreeAndCostNothing) {
  const std::int64_t last = kChunk + 10;
  ClaimMap map(last);
  for (const std::int64_t sector : {std::int64_t{-1}, last + 1, 2 * kChunk, INT64_MAX}) {
    SCOPED_TRACE(sector);
    map.ClaimSector(sector);
    EXPECT_FALSE(map.IsSectorClaimed(sector));
    map.ReleaseSector(sector);
  }
  EXPECT_EQ(map.CountClaimed(), 0);
  EXPECT_EQ(map.AllocatedChunks(), 0u);
  EXPECT_FALSE(ClaimMap().IsSectorClaimed(0));  // a default map covers nothing
}

// A file running across a chunk boundary, released but for one sector: the
// chunk left empty is freed, the other keeps exactly its one claim.
TEST(ClaimMap, ReleasingAFileAcrossChunksFreesOnlyEmptiedChunks) {
  ClaimMap map(4 * kChunk);
  const std::int64_t first = 2 * kChunk - 100, last = 2 * kChunk + 99;
  for (std::int64_t s = first; s <= last; ++s) map.ClaimSector(s);
  map.ClaimSector(7);  // another file, in chunk 0
  EXPECT_EQ(map.CountClaimed(), 201);
  EXPECT_EQ(map.AllocatedChunks(), 3u);
  for (std::int64_t s = first; s < last; ++s) map.ReleaseSector(s);
  EXPECT_EQ(map.CountClaimed(), 2);
  EXPECT_EQ(map.AllocatedChunks(), 2u);
  std::vector<std::int64_t> claimed;
  for (std::int64_t s = 0; s <= map.LastSector(); ++s) {
    if (map.IsSectorClaimed(s)) claimed.push_back(s);
  }
  EXPECT_EQ(claimed, (std::vector<std::int64_t>{7, last}));
  // Claiming again in the freed chunk after having asked about it.
  EXPECT_FALSE(map.IsSectorClaimed(first));
  map.ClaimSector(first);
  EXPECT_TRUE(map.IsSectorClaimed(first));
  EXPECT_EQ(map.AllocatedChunks(), 3u);
}

// A volume of 2^41 sectors (a petabyte): claims at both ends cost a chunk
// each, not a bit for every sector in between.
TEST(ClaimMap, HugeVolumeCostsOnlyTheChunksClaimedIn) {
  const std::int64_t last = (std::int64_t{1} << 41) - 1;
  ClaimMap map(last);
  map.ClaimSector(0);
  map.ClaimSector(last);
  map.ClaimSector(last - 1);
  EXPECT_EQ(map.CountClaimed(), 3);
  EXPECT_EQ(map.AllocatedChunks(), 2u);
  EXPECT_TRUE(map.IsSectorClaimed(last) && map.IsSectorClaimed(last - 1) && map.IsSectorClaimed(0));
  EXPECT_FALSE(map.IsSectorClaimed(last / 2));
}

// Copies are independent; a map moved from or reset covers nothing and
// answers no question from the chunks it gave away.
TEST(ClaimMap, TheNthFreeSectorStepsOverClaimsAcrossWordsAndChunks) {
  // Claimed: a run across a word edge, one across a chunk edge, every other
  // sector of a stretch, and the map's last sector.
  const std::int64_t last = 2 * kChunk + 100;
  ClaimMap map(last);
  for (std::int64_t s = 60; s < 70; ++s) map.ClaimSector(s);
  for (std::int64_t s = kChunk - 3; s < kChunk + 130; ++s) map.ClaimSector(s);
  for (std::int64_t s = 1000; s < 1200; s += 2) map.ClaimSector(s);
  map.ClaimSector(last);
  // What a walk claiming one free sector at a time would reach.
  const auto walk = [&](std::int64_t sector, std::int64_t count) {
    for (;; ++sector) {
      if (!map.IsSectorClaimed(sector) && --count == 0) return sector;
    }
  };
  const struct { std::int64_t from, count; } cases[] = {
      {0, 1},      {0, 60},    {0, 61},      {59, 2},          {60, 1},       {63, 1},        {64, 64},
      {990, 20},   {999, 150}, {1001, 1},    {kChunk - 4, 1},  {kChunk - 4, 2}, {kChunk - 3, 1}, {0, kChunk},
      {5, 2 * kChunk - 200}, {last - 5, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.from << " + " << c.count);
    std::int64_t looked = 0;
    EXPECT_EQ(map.NthFree(c.from, c.count, &looked), walk(c.from, c.count));
    EXPECT_GE(looked, 1);
    // A word at a time, a chunk at a time where nothing is claimed.
    EXPECT_LE(looked, c.count / 64 + 3 * (c.count / kChunk) + 8);
  }
  // Beyond the map every sector reads free.
  EXPECT_EQ(map.NthFree(last - 1, 3), last + 2);
  EXPECT_EQ(map.NthFree(last + 10, 4), last + 13);
}

TEST(ClaimMap, CopiesMovesAndResetKeepTheirOwnClaims) {
  ClaimMap map(3 * kChunk);
  map.ClaimSector(kChunk + 1);
  EXPECT_TRUE(map.IsSectorClaimed(kChunk + 1));  // remembered by the lookup
  ClaimMap copy = map;
  copy.ReleaseSector(kChunk + 1);
  EXPECT_TRUE(map.IsSectorClaimed(kChunk + 1));
  EXPECT_FALSE(copy.IsSectorClaimed(kChunk + 1));

  ClaimMap moved = std::move(map);
  EXPECT_TRUE(moved.IsSectorClaimed(kChunk + 1));
  EXPECT_FALSE(map.IsSectorClaimed(kChunk + 1));  // NOLINT(bugprone-use-after-move): the moved-from state is defined
  EXPECT_EQ(map.LastSector(), -1);

  copy = moved;
  moved.Reset();
  EXPECT_FALSE(moved.IsSectorClaimed(kChunk + 1));
  EXPECT_EQ(moved.AllocatedChunks(), 0u);
  EXPECT_TRUE(copy.IsSectorClaimed(kChunk + 1));
  EXPECT_EQ(copy.CountClaimed(), 1);
}

}  // namespace
}  // namespace vellumark
