#include "access/sector_source.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <cstring>
#include <functional>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"
#include "texts/refusal_slots.h"

namespace vellumark {
namespace {

constexpr std::int32_t kWindow = SectorSource::kWindowSize;

class SectorSourceTest : public ::testing::Test {
 protected:
  SectorSourceTest() {
    auto owned = std::make_unique<MemoryPlatformSource>();
    platform = owned.get();
    source = std::make_unique<SectorSource>(std::move(owned));
  }

  // Opens an image of the given bytes (no boot sector: 512-byte sectors).
  void OpenImage(std::vector<std::uint8_t> bytes, const std::string& path = "disk.img") {
    image = bytes;
    platform->Add(path, std::move(bytes));
    ASSERT_TRUE(source->OpenImageFile(path).ok());
  }

  // Reads and checks count bytes at offset against the image.
  std::int32_t ReadAndCompare(std::int32_t count, std::int64_t offset) {
    std::vector<std::uint8_t> got(static_cast<std::size_t>(count), 0xEE);
    const std::int32_t result = source->ReadSectors(got.data(), count, offset);
    if (result == 0) {
      EXPECT_EQ(0, std::memcmp(got.data(), image.data() + offset, got.size())) << "at " << offset;
    }
    return result;
  }

  MemoryPlatformSource* platform = nullptr;
  std::unique_ptr<SectorSource> source;
  std::vector<std::uint8_t> image;
};

TEST_F(SectorSourceTest, CountZeroReadsNothing) {
  OpenImage(test::PatternBytes(1 << 20));
  EXPECT_EQ(source->ReadSectors(nullptr, 0, 0), 0);
  EXPECT_EQ(platform->ReadCalls(), 1);  // only the boot-sector probe
}

TEST_F(SectorSourceTest, OneSystemReadServesAWindowOfSectors) {
  OpenImage(test::PatternBytes(1 << 20));
  const int before = platform->ReadCalls();
  for (std::int64_t sector = 0; sector < kWindow / 512; ++sector) ASSERT_EQ(ReadAndCompare(512, sector * 512), 0);
  EXPECT_EQ(platform->ReadCalls() - before, 1);
}

TEST_F(SectorSourceTest, RequestRunningPastTheWindowLoadsTheNextAtTheFirstMissingByte) {
  OpenImage(test::PatternBytes(4 << 20));
  ASSERT_EQ(ReadAndCompare(512, 0), 0);
  const int before = platform->ReadCalls();
  ASSERT_EQ(ReadAndCompare(kWindow, kWindow - 512), 0);
  EXPECT_EQ(platform->ReadCalls() - before, 1);
  // The new window starts at 65,536: its last sector needs no further read.
  ASSERT_EQ(ReadAndCompare(512, 2 * kWindow - 512), 0);
  EXPECT_EQ(platform->ReadCalls() - before, 1);
}

// The carving reads its hits from the highest down, each followed by a few
// sectors after it: a window per hit would read the source once per hit.
TEST_F(SectorSourceTest, ReadsWalkingBackwardsShareWindows) {
  OpenImage(test::PatternBytes(4 << 20));
  const std::int64_t top = 5000;
  ASSERT_EQ(ReadAndCompare(512, (top + 1) * 512), 0);
  const int before = platform->ReadCalls();
  for (std::int64_t sector = top; sector > top - 1000; --sector) {
    ASSERT_EQ(ReadAndCompare(512, sector * 512), 0);
    ASSERT_EQ(ReadAndCompare(1024, (sector + 1) * 512), 0);  // what an attempt reads after its hit
  }
  EXPECT_LE(platform->ReadCalls() - before, 1000 / 100);
}

TEST_F(SectorSourceTest, LastWindowEndsAtTheEndOfTheSource) {
  OpenImage(test::PatternBytes(1 << 20));
  const std::int64_t last = source->ScanGeometry().LastSector;
  ASSERT_EQ(ReadAndCompare(512, last * 512), 0);
  const int before = platform->ReadCalls();
  ASSERT_EQ(ReadAndCompare(512, (last - 127) * 512), 0);  // first sector of that same window
  EXPECT_EQ(platform->ReadCalls(), before);
  std::uint8_t buffer[1024];
  EXPECT_EQ(source->ReadSectors(buffer, 512, (last + 1) * 512), 512);
  EXPECT_EQ(source->ReadSectors(buffer, 1024, last * 512), 512);  // the sector after the end is undelivered
}

TEST_F(SectorSourceTest, PartialSectorAtTheEndIsNeverRead) {
  OpenImage(test::PatternBytes(1'000'000));
  EXPECT_EQ(source->ScanGeometry().BytesPerSector, 512u);
  EXPECT_EQ(source->ScanGeometry().LastSector, 1952);
  platform->FailReads(1952 * 512 + 512, 64);  // the 64 bytes past the last whole sector
  EXPECT_EQ(ReadAndCompare(512, 1952 * 512), 0);
  EXPECT_EQ(ReadAndCompare(512, 1900 * 512), 0);
}

TEST_F(SectorSourceTest, SourceShorterThanAWindowLoadsWhatItHas) {
  OpenImage(test::PatternBytes(3 * 512 + 100));
  EXPECT_EQ(source->ScanGeometry().LastSector, 2);
  for (int sector = 0; sector < 3; ++sector) EXPECT_EQ(ReadAndCompare(512, sector * 512), 0);
  std::uint8_t buffer[512];
  EXPECT_EQ(source->ReadSectors(buffer, 512, 3 * 512), 512);
}

// A bad sector fails only the requests that include it, and is read on its
// own once: after that it is known, and its window serves the good sectors.
TEST_F(SectorSourceTest, BadSectorFailsOnlyItselfAndIsNeverReadAgain) {
  OpenImage(test::PatternBytes(1 << 20));
  platform->FailReads(200 * 512, 512);
  std::uint8_t buffer[3 * 512];
  int before = platform->ReadCalls();
  EXPECT_EQ(source->ReadSectors(buffer, 512, 200 * 512), 512);
  EXPECT_EQ(platform->ReadCalls() - before, 1 + 128);  // the window, then each of its sectors
  EXPECT_EQ(source->UnreadableSectors(), (std::set<std::int64_t>{200}));
  EXPECT_TRUE(source->IsUnreadable(200 * 512 + 7));
  EXPECT_FALSE(source->IsUnreadable(201 * 512));

  before = platform->ReadCalls();
  EXPECT_EQ(ReadAndCompare(512, 201 * 512), 0);
  EXPECT_EQ(source->ReadSectors(buffer, 512, 200 * 512), 512);
  // Delivered up to the bad sector, which ends the delivery.
  EXPECT_EQ(source->ReadSectors(buffer, 3 * 512, 199 * 512), 2 * 512);
  EXPECT_EQ(0, std::memcmp(buffer, image.data() + 199 * 512, 512));
  EXPECT_FALSE(source->ReadDirect(buffer, 512, 200 * 512));
  // The window at 199 (placed to end a little after it, for reads walking
  // down): at most the runs on each side of 200.
  EXPECT_LE(platform->ReadCalls() - before, 2);

  // A window that holds the known bad sector reads around it.
  before = platform->ReadCalls();
  EXPECT_EQ(ReadAndCompare(512, 150 * 512), 0);
  EXPECT_EQ(ReadAndCompare(512, 277 * 512), 0);
  EXPECT_LE(platform->ReadCalls() - before, 2);
  EXPECT_TRUE(source->ReadDirect(buffer, 512, 150 * 512));
  EXPECT_EQ(0, std::memcmp(buffer, image.data() + 150 * 512, 512));
  EXPECT_EQ(source->ReadSectors(buffer, 512, -512), 512);

  // Reopening forgets what the last source had.
  OpenImage(test::PatternBytes(1 << 20));
  EXPECT_TRUE(source->UnreadableSectors().empty());
}

// A read that fails may leave anything in its buffer (the memory source
// leaves 0xEE there): whatever a window load met, only the source's own
// bytes are ever delivered, on either sector size, whichever way the
// window is entered.
TEST_F(SectorSourceTest, FailedReadsNeverServeWhatTheyLeftInTheBuffer) {
  for (const std::uint32_t size : {512u, 4096u}) {
    SCOPED_TRACE(size);
    auto& entry = platform->Add("/dev/sdz1", test::PatternBytes(2 << 20, size));
    entry.sectorSize = size;
    image = entry.bytes;
    platform->ClearFailures();
    ASSERT_TRUE(source->OpenPartition("/dev/sdz1", "sdz1").ok());
    ASSERT_EQ(source->ScanGeometry().BytesPerSector, size);
    const std::set<std::int64_t> bad = {3, 40, 41, 300};
    for (const std::int64_t sector : bad) platform->FailReads(sector * size + 100, 1);
    // Forwards, backwards and in requests of several sectors, twice over.
    for (int round = 0; round < 2; ++round) {
      for (std::int64_t sector = 0; sector < 310; ++sector) {
        EXPECT_EQ(ReadAndCompare(static_cast<std::int32_t>(size), sector * size) == 0, bad.count(sector) == 0) << sector;
      }
      for (std::int64_t sector = 309; sector >= 0; --sector) {
        EXPECT_EQ(ReadAndCompare(static_cast<std::int32_t>(size), sector * size) == 0, bad.count(sector) == 0) << sector;
      }
      for (std::int64_t sector = 0; sector + 3 < 310; sector += 3) {
        // Delivered up to the first bad sector; what was delivered is the source's.
        std::int64_t good = 0;
        while (good < 3 && bad.count(sector + good) == 0) ++good;
        std::vector<std::uint8_t> got(3 * size, 0xEE);
        const std::int32_t left = source->ReadSectors(got.data(), static_cast<std::int32_t>(3 * size), sector * size);
        EXPECT_EQ(left, (3 - good) * size) << sector;
        EXPECT_EQ(0, std::memcmp(got.data(), image.data() + sector * size, static_cast<std::size_t>(good * size))) << sector;
      }
    }
    EXPECT_EQ(source->UnreadableSectors(), bad);
  }
}

// The end is named where the source now ends, also when the read that
// found it short lay far above (the first sector it no longer has is 300).
TEST_F(SectorSourceTest, SourceThatEndsEarlyIsNotedWhereItEnded) {
  OpenImage(test::PatternBytes(1 << 20));
  platform->Find("disk.img")->bytes.resize(300 * 512 + 100);  // shrinks after opening
  std::uint8_t buffer[512];
  EXPECT_EQ(source->ReadSectors(buffer, 512, 1000 * 512), 512);
  EXPECT_EQ(source->EndedAtSector(), 300);
  EXPECT_EQ(source->ReadSectors(buffer, 512, 290 * 512), 0);
  EXPECT_EQ(source->ReadSectors(buffer, 512, 300 * 512), 512);  // the cut sector is no sector
  EXPECT_EQ(source->EndedAtSector(), 300);
  EXPECT_TRUE(source->UnreadableSectors().empty()) << "an end is not a bad sector";
  const int before = platform->ReadCalls();
  EXPECT_EQ(source->ReadSectors(buffer, 512, 900 * 512), 512);
  EXPECT_EQ(platform->ReadCalls(), before) << "nothing past the end is read again";
}

// An end found in the last sector, whole or cut, is an end all the same.
TEST_F(SectorSourceTest, SourceThatLosesOnlyItsLastSectorEndsThere) {
  for (const std::size_t left : {std::size_t{0}, std::size_t{100}}) {
    SCOPED_TRACE(left);
    OpenImage(test::PatternBytes(2048 * 512));
    platform->Find("disk.img")->bytes.resize(2047 * 512 + left);
    std::uint8_t buffer[512];
    EXPECT_EQ(source->ReadSectors(buffer, 512, 2047 * 512), 512);
    EXPECT_EQ(source->EndedAtSector(), 2047);
    EXPECT_EQ(source->ReadSectors(buffer, 512, 2046 * 512), 0);
  }
}

TEST_F(SectorSourceTest, ReopeningNeverServesBytesOfThePreviousSource) {
  OpenImage(test::PatternBytes(1 << 20, 1), "a.img");
  ASSERT_EQ(ReadAndCompare(512, 0), 0);
  OpenImage(test::PatternBytes(1 << 20, 2), "b.img");
  EXPECT_EQ(ReadAndCompare(512, 0), 0);
  OpenImage(test::PatternBytes(1 << 20, 3), "b.img");  // same path, new content
  EXPECT_EQ(ReadAndCompare(512, 512), 0);
}

TEST_F(SectorSourceTest, ClosingLeavesNothingReadable) {
  OpenImage(test::PatternBytes(1 << 20));
  EXPECT_EQ(source->SourceLetter(), '#');
  EXPECT_EQ(source->SourceName(), "disk.img");
  source->CloseSource();
  EXPECT_FALSE(source->IsOpen());
  EXPECT_EQ(source->SourceLetter(), 0);
  std::uint8_t buffer[512];
  EXPECT_EQ(source->ReadSectors(buffer, 512, 0), 512);
}

TEST_F(SectorSourceTest, OpenFailuresNameTheirMessageAndReasonAndKeepWhatWasOpen) {
  platform->Add("/dev/sdz1", test::PatternBytes(1 << 20)).lengthQueryFails = true;
  const struct { std::function<OpenResult()> open; int slot; int systemError; } cases[] = {
      {[&] { return source->OpenImageFile("missing.img"); }, 48, ENOENT},
      {[&] { return source->OpenPartition("/dev/missing", "missing"); }, 16, ENOENT},
      {[&] { return source->OpenPartition("/dev/sdz1", "sdz1"); }, 63, EIO},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.slot);
    source->CloseSource();
    const OpenResult result = c.open();
    EXPECT_EQ(SlotOf(result.error), c.slot);
    EXPECT_EQ(result.systemError, c.systemError);
    EXPECT_EQ(result.refused, RefusedKind::None);
    EXPECT_FALSE(source->IsOpen());

    // With an image open, the failure leaves that image open, with the
    // cluster layout chosen for it, its bytes readable as before.
    const auto bytes = test::PatternBytes(8192, 7);
    OpenImage(bytes, "kept.img");
    source->ScanGeometry().SectorsPerCluster = 8;
    EXPECT_EQ(SlotOf(c.open().error), c.slot);
    ASSERT_TRUE(source->IsOpen());
    EXPECT_EQ(source->SourceName(), "kept.img");
    EXPECT_EQ(source->SourceLetter(), SectorSource::kImageLetter);
    EXPECT_EQ(source->ScanGeometry().SectorsPerCluster, 8u);
    EXPECT_EQ(source->ScanGeometry().LastSector, 15);
    EXPECT_EQ(ReadAndCompare(512, 4096), 0);
  }
}

TEST_F(SectorSourceTest, UnrecognisedPartitionTakesTheSystemSectorSize) {
  struct Case {
    std::optional<std::uint32_t> reported;
    std::uint32_t expected;
  };
  for (const Case& c : {Case{4096, 4096}, Case{std::nullopt, 512}, Case{0, 512}}) {
    platform->Add("/dev/sdz1", test::PatternBytes(1 << 20)).sectorSize = c.reported;
    const OpenResult result = source->OpenPartition("/dev/sdz1", "sdz1 (1 MiB)");
    ASSERT_TRUE(result.ok());
    EXPECT_FALSE(result.bootSectorRecognised);
    const VolumeGeometry& g = source->ScanGeometry();
    EXPECT_EQ(g.BytesPerSector, c.expected);
    EXPECT_EQ(g.LastSector, (1 << 20) / c.expected - 1);
    EXPECT_EQ(g.SectorsPerCluster, 1u);
    EXPECT_EQ(g.ClusterPhase, -1);
    EXPECT_EQ(g.FileSystemType, kFileSystemOther);
    EXPECT_EQ(source->SourceName(), "sdz1 (1 MiB)");
    EXPECT_NE(source->SourceLetter(), '#');
  }
}

}  // namespace
}  // namespace vellumark
