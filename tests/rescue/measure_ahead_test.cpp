// A bzip2 stream measured ahead on another thread must be claimed exactly
// as the carving's own walk claims it, whatever lies around it: the
// measure is of the source's bytes as they lie, the walk's of the sectors
// no other file took.
#include "rescue/measure_ahead.h"

#include <gtest/gtest.h>

#include <thread>

#include "rescue/carvers/carvers.h"
#include "rescue/media_carver_fixture.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

// Carves the stream at sector 4 of image, with the measure ahead when
// ahead, after claiming the sectors given (another file's); failing is
// the sector whose reads fail once the stream was measured.
Runs CarveStream(Bytes image, bool ahead, std::initializer_list<std::int64_t> claimed,
                std::int64_t failing = -1) {
  Disk disk(std::move(image), 1, true);
  for (const std::int64_t sector : claimed) disk.run.claims.ClaimSector(sector);
  MeasureAhead measure(disk.source, ahead ? std::vector<std::int64_t>{4} : std::vector<std::int64_t>{},
                       disk.source.ScanGeometry().LastSector);
  measure.WaitUntilDone();  // so that the fast way is the one taken
  if (failing >= 0) disk.mem->FailReads(failing * 512, 512);
  disk.run.measureAhead = ahead ? &measure : nullptr;
  Bzip2Carver(disk.run, 4 * 512);
  disk.run.measureAhead = nullptr;
  return disk.Claimed();
}

TEST(MeasureAhead, AStreamMeasuredAheadIsClaimedAsTheWalkClaimsIt) {
  VELLUMARK_REQUIRE_TOOL("bzip2");
  TempDir dir;
  WriteFileBytes(dir / "random", PatternBytes(60'000, 3));
  const std::string in = "cd '" + dir.path().string() + "' && ";
  ASSERT_EQ(test::Run(in + "{ seq 1 40000; cat random; } > payload"), 0);
  const Bytes stream = Made(dir, in + "bzip2 -1 -c payload > ", "a.bz2");
  const std::int64_t n = SectorsOf(stream);
  Bytes damaged = stream;
  damaged[damaged.size() / 2] ^= 0x01;
  const struct {
    const char* what;
    Bytes image;
    std::initializer_list<std::int64_t> claimed;
    std::int64_t failing;
    Runs expected;
  } cases[] = {
      {"whole, in one run", Place(stream, 4, 8), {}, -1, Span(4, n)},
      {"another file's sector inside it", Place(stream, 4, 8, {9}), {9}, -1, Span(4, n + 1)},
      {"another file's sector right after it", Place(stream, 4, 8), {4 + n}, -1, Span(4, n + 1)},
      // The bytes as they lie are the stream, but the walk steps over a
      // sector another file took and reads a stream that does not check.
      {"another file claimed a sector of it", Place(stream, 4, 8), {9}, -1, Runs{{9, 9}}},
      {"a bit changed", Place(damaged, 4, 8), {}, -1, Runs{}},
      {"its last sector past the source's end", Head(Place(stream, 4, 0), (4 + n - 1) * 512), {}, -1, Runs{}},
      {"a sector the drive refuses after the measure", Place(stream, 4, 8), {}, 4 + n / 2, Runs{}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(CarveStream(c.image, false, c.claimed, c.failing), c.expected) << "walked";
    EXPECT_EQ(CarveStream(c.image, true, c.claimed, c.failing), c.expected) << "measured ahead";
  }
  // The measure handed over is the stream's length.
  {
    Disk disk(cases[0].image, 1, true);
    MeasureAhead measure(disk.source, {4}, disk.source.ScanGeometry().LastSector);
    measure.WaitUntilDone();
    EXPECT_EQ(measure.Take(4 * 512), std::optional<std::int64_t>(static_cast<std::int64_t>(stream.size())));
  }
}

TEST(MeasureAhead, TheCarvingMeasuresAStreamNotYetBegunAndTheThreadLeavesIt) {
  MemoryPlatformSource* mem = new MemoryPlatformSource;
  SectorSource source{std::unique_ptr<PlatformSource>(mem)};
  mem->Add("disk.img", PatternBytes(64 * 512, 1)).mappable = true;
  ASSERT_TRUE(source.OpenImageFile("disk.img").ok());
  // Random bytes measure as broken: nothing is handed over, whichever
  // thread measured them, and a stream asked for twice is not measured again.
  MeasureAhead measure(source, {40, 30, 20, 10}, source.ScanGeometry().LastSector);
  for (const std::int64_t sector : {40, 30, 20, 10}) {
    EXPECT_FALSE(measure.Take(sector * 512)) << sector;
    EXPECT_FALSE(measure.Take(sector * 512)) << sector;
  }
  EXPECT_FALSE(measure.Take(50 * 512));  // never listed
}

TEST(MeasureAhead, StreamsInOneBlockOfTheSourceShareItsMapping) {
  MemoryPlatformSource* mem = new MemoryPlatformSource;
  SectorSource source{std::unique_ptr<PlatformSource>(mem)};
  mem->Add("disk.img", PatternBytes(64 * 512, 1)).mappable = true;
  ASSERT_TRUE(source.OpenImageFile("disk.img").ok());
  // A source whose every sector looks like a stream's start must not cost
  // a mapping a stream.
  std::vector<std::int64_t> sectors;
  for (std::int64_t sector = 63; sector >= 0; --sector) sectors.push_back(sector);
  MeasureAhead measure(source, sectors, source.ScanGeometry().LastSector);
  measure.WaitUntilDone();
  EXPECT_EQ(mem->MapCalls(), 1);
}

TEST(MeasureAhead, AThreadHeldByAPauseStillEndsWithTheRun) {
  VELLUMARK_REQUIRE_TOOL("bzip2");
  TempDir dir;
  WriteFileBytes(dir / "random", PatternBytes(6'000'000, 3));
  const std::string in = "cd '" + dir.path().string() + "' && ";
  const Bytes stream = Made(dir, in + "bzip2 -1 -c random > ", "a.bz2");
  ASSERT_GT(static_cast<std::int64_t>(stream.size()), MeasureAhead::kPiece);  // read in more than one piece
  Disk disk(Place(stream, 4, 8), 1, true);
  // Held while it measures, once it has mapped the stream's first piece:
  // the run that ends (stopped while paused) must not wait for it for ever.
  MeasureAhead measure(disk.source, {4}, disk.source.ScanGeometry().LastSector);
  while (disk.mem->MapCalls() == 0) std::this_thread::yield();
  measure.Hold(true);
}

}  // namespace
}  // namespace vellumark
