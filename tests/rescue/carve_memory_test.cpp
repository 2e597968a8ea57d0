#include "rescue/carve_memory.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vellumark {
namespace {

using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;  // first, end

TEST(CarveMemory, ClaimedRunsMergeAndAreSteppedOverWhole) {
  const struct { const char* name; Runs runs; std::int64_t at, past; } cases[] = {
      {"none known", {}, 5, 5},
      {"inside a run", {{10, 20}}, 12, 20},
      {"at its first sector", {{10, 20}}, 10, 20},
      {"at its end, which is free", {{10, 20}}, 20, 20},
      {"before it", {{10, 20}}, 9, 9},
      {"touching runs merge", {{10, 20}, {20, 30}}, 15, 30},
      {"a run ending where a known one starts merges", {{20, 30}, {10, 20}}, 15, 30},
      {"overlapping runs merge", {{10, 20}, {15, 25}}, 11, 25},
      {"a run bridging two", {{10, 20}, {30, 40}, {18, 32}}, 10, 40},
      {"a run inside another", {{10, 40}, {15, 20}}, 21, 40},
      {"apart stay apart", {{10, 20}, {21, 30}}, 15, 20},
  };
  for (const auto& c : cases) {
    CarveMemory memory;
    for (const auto& [first, end] : c.runs) memory.ClaimedRun(first, end);
    EXPECT_EQ(memory.PastClaimed(c.at), c.past) << c.name;
  }
}

TEST(CarveMemory, FreeSectorsAheadAreBoundedByTheKnownRuns) {
  CarveMemory memory;
  EXPECT_EQ(memory.FreeAtMost(0, 99), 100);
  EXPECT_EQ(memory.FreeAtMost(100, 99), 0);
  memory.ClaimedRun(10, 20);
  memory.ClaimedRun(90, 120);  // past the last sector too
  EXPECT_EQ(memory.FreeAtMost(0, 99), 80);
  EXPECT_EQ(memory.FreeAtMost(15, 99), 70);   // from inside a run
  EXPECT_EQ(memory.FreeAtMost(20, 99), 70);
  EXPECT_EQ(memory.FreeAtMost(95, 99), 0);
  // Many runs: a bound that counts only some of them is looser, never too low.
  CarveMemory many;
  for (std::int64_t s = 0; s < 100; s += 2) many.ClaimedRun(s, s + 1);
  const std::int64_t bound = many.FreeAtMost(0, 99);
  EXPECT_GE(bound, 50);
  EXPECT_LE(bound, 100);
}

TEST(CarveMemory, AFileCarvedOverASearchedStretchEndsIt) {
  const struct { std::int64_t first, end; bool kept; } cases[] = {
      {0, 10, true}, {0, 11, false}, {15, 16, false}, {20, 21, false}, {21, 30, true},
  };
  for (const auto& c : cases) {
    CarveMemory memory;
    memory.SetJpegSearched({10, 20, 11, 0x00, 0xFF});
    memory.Carved(c.first, c.end);
    EXPECT_EQ(memory.JpegSearched().has_value(), c.kept) << c.first << ".." << c.end;
    EXPECT_EQ(memory.PastClaimed(c.first), c.end);
  }
}

TEST(CarveMemory, DeadEndsAreKeptApartByChainPlaceAndBit) {
  using Chain = CarveMemory::Chain;
  CarveMemory memory;
  memory.AddDeadEnd(CarveMemory::ChainPoint(Chain::kPngChunks, 520, 0));
  memory.AddDeadEnd(CarveMemory::ChainPoint(Chain::kGzipBlocks, 1 << 30, 3));
  EXPECT_TRUE(memory.IsDeadEnd(CarveMemory::ChainPoint(Chain::kPngChunks, 520, 0)));
  const struct { Chain chain; std::int64_t at; int bit; } others[] = {
      {Chain::kRarBlocks, 520, 0},  {Chain::kPngChunks, 521, 0},       {Chain::kPngChunks, 519, 0},
      {Chain::kPngChunks, 520, 1},  {Chain::kGzipBlocks, 1 << 30, 4}, {Chain::kGzipBlocks, (1 << 30) + 1, 3},
  };
  for (const auto& o : others) {
    EXPECT_FALSE(memory.IsDeadEnd(CarveMemory::ChainPoint(o.chain, o.at, o.bit))) << o.at << " bit " << o.bit;
  }
  EXPECT_TRUE(memory.IsDeadEnd(CarveMemory::ChainPoint(Chain::kGzipBlocks, 1 << 30, 3)));
  // Files carved later start below and cover a dead end or end before it:
  // it stays. Scattered claims forget them all.
  memory.Carved(0, 2);
  EXPECT_TRUE(memory.IsDeadEnd(CarveMemory::ChainPoint(Chain::kPngChunks, 520, 0)));
  memory.ForgetDeadEnds();
  EXPECT_EQ(memory.DeadEnds(), 0u);
}

}  // namespace
}  // namespace vellumark
