// Copying a sector range of the open source to a raw image file.
#include "backup/image_backup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

// Records the boxes and reports; the pump presses Cancel right after report cancelAt.
struct Recorder final : Prompt, Pump, ProgressSink {
  void Show(const Message& m) override { shown.push_back(m.textSlot * 100 + m.captionSlot); }
  bool AskYesNo(const Message& m) override { asked.push_back(m.textSlot * 100 + m.captionSlot); return answer; }
  void ProcessPendingEvents() override {
    if (backup && reports.size() == cancelAt) backup->Cancel();
    if (onReport && !reports.empty()) onReport();
  }
  void StageStarted(ProgressStage) override {}
  void Report(const ProgressReport& r) override { reports.push_back(r); }
  void StageEnded(ProgressStage) override {}
  std::vector<int> shown, asked;  // slot * 100 + caption slot
  std::vector<ProgressReport> reports;
  bool answer = false;
  ImageBackup* backup = nullptr;
  std::size_t cancelAt = 0;
  std::function<void()> onReport;  // at the events after each report
};

class ImageBackupTest : public ::testing::Test {
 protected:
  // A source of random sectors: an image, or a stand-in device with its own sector size.
  void OpenSource(std::int64_t sectors, std::uint32_t size = 512) {
    bytes = test::PatternBytes(static_cast<std::size_t>(sectors) * size, 7);
    platform->ClearFailures();
    auto& entry = platform->Add("source", bytes);
    if (size != 512) entry.sectorSize = size;
    ASSERT_TRUE((size != 512 ? source.OpenPartition("source", "") : source.OpenImageFile("source")).ok());
    rec = Recorder{};
  }
  BackupResult Run(std::int64_t first, std::int64_t last) {
    return backup.Run({std::to_string(first), std::to_string(last)}, target);
  }
  std::vector<std::uint8_t> Sectors(std::int64_t first, std::int64_t last, std::uint32_t size = 512) const {
    return {bytes.begin() + first * size, bytes.begin() + (last + 1) * size};
  }
  // Runs the whole source's backup in a child whose file size limit the image
  // exceeds. Exit code: 1 finished, 2 "writing failed" (caption Error: a
  // file too large is no want of free space) came before any copying, 4 a
  // "Finished" box.
  int BackupUnderFileSizeLimit(rlim_t limit) {
    const pid_t child = ::fork();
    if (child == 0) {
      const rlimit small{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &small);
      std::signal(SIGXFSZ, SIG_IGN);
      int code = backup.Run({"0", std::to_string(source.ScanGeometry().LastSector)}, target).finished ? 1 : 0;
      for (const int box : rec.shown) {
        if (box == slot::kImageWriteFailed * 100 + slot::kError && rec.reports.empty()) code |= 2;
        if (box / 100 == slot::kBackupFinished || box / 100 == slot::kFinishedWithBadSectors) code |= 4;
      }
      ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  MemoryPlatformSource* platform = new MemoryPlatformSource;
  SectorSource source{std::unique_ptr<PlatformSource>(platform)};
  Recorder rec;
  FrontEnd frontEnd{rec, rec, rec};
  ImageBackup backup{source, frontEnd};
  std::vector<std::uint8_t> bytes;
  test::TempDir dir;
  std::string target = dir / "backup.img";
};

TEST_F(ImageBackupTest, ImageHoldsTheRangeSectorForSector) {
  const struct { std::uint32_t size; std::int64_t first, last; } cases[] = {
      {512, 100, 399}, {512, 7, 7}, {512, 0, 999}, {2048, 3, 70}, {4096, 1, 20}, {4096, 999, 999}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + ": " + std::to_string(c.first) + ".." + std::to_string(c.last));
    OpenSource(1000, c.size);
    const BackupResult result = Run(c.first, c.last);
    EXPECT_TRUE(result.ran && result.finished);
    EXPECT_EQ(result.errors, 0);
    EXPECT_EQ(test::ReadFileBytes(target), Sectors(c.first, c.last, c.size));
    EXPECT_EQ(rec.shown, std::vector<int>{slot::kBackupFinished * 100 + slot::kPrompt});
  }
}

TEST_F(ImageBackupTest, RefusedRequestsCreateNothing) {
  OpenSource(1000);
  EXPECT_EQ(backup.CheckRange({"0", "999"}), Refusal::None);
  for (const auto& [first, last] : std::vector<std::pair<const char*, const char*>>{
           {"", "10"}, {"0", ""}, {"a", "10"}, {"0", "1O"}, {"11", "10"}, {"0", "1000"}, {"-1", "10"}}) {
    EXPECT_EQ(backup.CheckRange({first, last}), Refusal::BackupRangeInvalid) << first << ".." << last;
    const BackupResult result = backup.Run({first, last}, target);
    EXPECT_TRUE(!result.ran && result.refusal == Refusal::BackupRangeInvalid);
  }
  EXPECT_FALSE(std::filesystem::exists(target));

  struct stat st {};  // a stand-in device that holds the target's folder
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  platform->Add("/dev/stand-in", bytes).deviceNumber = st.st_dev;
  ASSERT_TRUE(source.OpenPartition("/dev/stand-in", "stand-in").ok());
  const BackupResult result = Run(0, 99);
  EXPECT_TRUE(!result.ran && result.refusal == Refusal::ImageOnSource);
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(ImageBackupTest, UnreadableSectorIsWrittenAsZerosInItsOwnPlace) {
  OpenSource(1000);
  platform->FailReads(250 * 512 + 17, 1);  // in the second 128-sector chunk of 100..399
  const BackupResult result = Run(100, 399);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.errors, 1);
  auto expected = Sectors(100, 399);
  std::fill_n(expected.begin() + 150 * 512, 512, 0);
  EXPECT_EQ(test::ReadFileBytes(target), expected);
  EXPECT_EQ(rec.shown, (std::vector<int>{slot::kFinishedWithBadSectors * 100 + slot::kPrompt,
                                         slot::kSectorsNotCopiedListed * 100 + slot::kPrompt}));
  ASSERT_EQ(rec.reports.size(), 3u);
  EXPECT_EQ(rec.reports[1].sector, 228);
  EXPECT_EQ(rec.reports[1].errors, 0);
  EXPECT_EQ(rec.reports[2].errors, 1);
}

// What GNU ddrescue's tools make of a backup's map: ddrescuelog's list of
// the blocks of one status, and ddrescue run with the command the map's
// comment gives, from a file holding the source's true bytes.
class DdrescueMapTest : public ImageBackupTest {
 protected:
  void SetUp() override {
    VELLUMARK_REQUIRE_TOOL("ddrescue");
    VELLUMARK_REQUIRE_TOOL("ddrescuelog");
  }
  // The sector numbers of the map's blocks with status ('+', '-', '?').
  std::vector<std::int64_t> Listed(char status, std::uint32_t size) const {
    const std::string out = test::RunOutput("ddrescuelog -b " + std::to_string(size) + " -l" + status + " " +
                                            MapPathFor(target) + " 2>&1");
    std::vector<std::int64_t> sectors;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) sectors.push_back(std::stoll(line));
    return sectors;
  }
  // Runs the map's own retry command; returns its exit status.
  int RetryFromTrueSource() const {
    const auto map = test::ReadFileBytes(MapPathFor(target));
    std::istringstream in(std::string(map.begin(), map.end()));
    std::string command;
    for (std::string line; std::getline(in, line);) {
      if (line.rfind("#   ddrescue ", 0) == 0) command = line.substr(4);
    }
    EXPECT_FALSE(command.empty()) << "no command in the map";
    const std::size_t names = command.find(" SOURCE IMAGE IMAGE.map");
    if (names == std::string::npos) return -1;
    test::WriteFileBytes(dir / "true-source", bytes);
    return test::Run(command.substr(0, names) + " -q " + (dir / "true-source") + " " + target + " " +
                     MapPathFor(target) + " >/dev/null 2>&1");
  }
  static std::vector<std::int64_t> Range(std::int64_t first, std::int64_t last, const std::set<std::int64_t>& without) {
    std::vector<std::int64_t> sectors;
    for (std::int64_t s = first; s <= last; ++s) {
      if (without.count(s) == 0) sectors.push_back(s);
    }
    return sectors;
  }
};

TEST_F(DdrescueMapTest, FinishedBackupListsExactlyTheUnreadableSectors) {
  const struct { std::uint32_t size; std::int64_t first, last; std::set<std::int64_t> bad; } cases[] = {
      {512, 0, 999, {}},
      {512, 0, 999, {0}},
      {512, 0, 999, {999}},
      {512, 0, 999, {127, 128, 129, 500, 998}},  // a run across two chunks, and one alone
      {512, 100, 399, {100, 250, 251, 399}},     // a range that starts inside the source
      {512, 10, 14, {10, 11, 12, 13, 14}},       // nothing could be read
      {4096, 3, 70, {3, 40, 41, 70}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + ": " + std::to_string(c.first) + ".." + std::to_string(c.last) + ", " +
                 std::to_string(c.bad.size()) + " bad");
    OpenSource(1000, c.size);
    test::WriteFileBytes(MapPathFor(target), {'o', 'l', 'd'});  // an earlier backup's map is replaced
    for (const std::int64_t s : c.bad) platform->FailReads(s * c.size + 7, 1);
    const BackupResult result = Run(c.first, c.last);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.errors, static_cast<std::int64_t>(c.bad.size()));
    EXPECT_EQ(result.mapPath, MapPathFor(target));
    EXPECT_EQ(Listed('-', c.size), std::vector<std::int64_t>(c.bad.begin(), c.bad.end()));
    EXPECT_EQ(Listed('+', c.size), Range(c.first, c.last, c.bad));
    EXPECT_TRUE(Listed('?', c.size).empty());
    if (!c.bad.empty()) {
      EXPECT_EQ(rec.shown, (std::vector<int>{slot::kFinishedWithBadSectors * 100 + slot::kPrompt,
                                             slot::kSectorsNotCopiedListed * 100 + slot::kPrompt}));
    }
    auto withZeros = Sectors(c.first, c.last, c.size);
    for (const std::int64_t s : c.bad) std::fill_n(withZeros.begin() + (s - c.first) * c.size, c.size, 0);
    EXPECT_EQ(test::ReadFileBytes(target), withZeros);
    // The bad sectors read well now: ddrescue fills them in.
    EXPECT_EQ(RetryFromTrueSource(), 0);
    EXPECT_EQ(test::ReadFileBytes(target), Sectors(c.first, c.last, c.size));
    EXPECT_TRUE(Listed('-', c.size).empty());
  }
}

TEST_F(DdrescueMapTest, KeptUnfinishedImageListsWhatWasNeverCopied) {
  OpenSource(1000);
  platform->FailReads(60 * 512, 1);
  rec.backup = &backup;
  rec.cancelAt = 2;  // two chunks of 128 sectors copied
  const BackupResult result = Run(0, 999);
  ASSERT_TRUE(result.ran && !result.finished && result.cancelled && !result.deleted);
  EXPECT_EQ(result.imagePath, target);
  EXPECT_EQ(result.mapPath, MapPathFor(target));
  EXPECT_EQ(Listed('-', 512), std::vector<std::int64_t>{60});
  EXPECT_EQ(Listed('+', 512), Range(0, 255, {60}));
  EXPECT_EQ(Listed('?', 512), Range(256, 999, {}));
  EXPECT_EQ(RetryFromTrueSource(), 0);  // ddrescue finishes the copy
  EXPECT_EQ(test::ReadFileBytes(target), Sectors(0, 999));
}

TEST_F(ImageBackupTest, NoMapIsLeftWhereNoImageIs) {
  OpenSource(1000);
  rec.answer = true;  // the unfinished image is deleted
  rec.backup = &backup;
  rec.cancelAt = 1;
  const BackupResult result = Run(0, 999);
  EXPECT_TRUE(result.cancelled && result.deleted && result.mapPath.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST_F(ImageBackupTest, CancelAsksWhetherToDeleteTheUnfinishedImage) {
  for (const bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    OpenSource(1000);
    rec.answer = yes;
    rec.backup = &backup;
    rec.cancelAt = 1;
    const BackupResult result = Run(0, 999);
    EXPECT_TRUE(result.ran && !result.finished);
    EXPECT_EQ(rec.reports.size(), 1u);  // no chunk after the one under way
    EXPECT_EQ(rec.asked, std::vector<int>{slot::kDeleteUnfinishedTarget * 100 + slot::kPrompt});
    EXPECT_TRUE(rec.shown.empty());
    EXPECT_EQ(result.deleted, yes);
    EXPECT_EQ(std::filesystem::exists(target), !yes);
    if (!yes) {
      const auto image = test::ReadFileBytes(target);
      ASSERT_EQ(image.size(), 1000u * 512);  // the reserved length stays
      EXPECT_TRUE(std::equal(image.begin(), image.begin() + 128 * 512, bytes.begin()));
    }
  }
}

TEST_F(ImageBackupTest, CancelWhileTheImageIsReservedIsNotLost) {
  OpenSource(1000);
  rec.backup = &backup;  // cancelAt 0: the events that run before the first report
  const BackupResult result = Run(0, 999);
  EXPECT_FALSE(result.finished) << rec.reports.size() << " chunks copied after Cancel";
  EXPECT_EQ(rec.asked, std::vector<int>{slot::kDeleteUnfinishedTarget * 100 + slot::kPrompt});
}

TEST_F(ImageBackupTest, TargetWithoutRoomNeverEndsAsFinished) {
  OpenSource(1000);
  EXPECT_EQ(BackupUnderFileSizeLimit(4096), 2);
  // Room for part of the image: it fails at the reservation or at a later write.
  const int partWay = BackupUnderFileSizeLimit(300 * 512);
  EXPECT_TRUE(partWay >= 0 && (partWay & 5) == 0) << partWay;
}

// Cancel pressed as the last chunk, one sector, is about to be copied: that
// sector never reaches the image, so the backup is not finished.
TEST_F(ImageBackupTest, CancelWithOneSectorLeftIsNotFinished) {
  OpenSource(1000);
  rec.backup = &backup;
  rec.cancelAt = 1;  // the first chunk of 128 sectors is copied, then Cancel
  const BackupResult result = Run(0, 128);
  EXPECT_TRUE(result.ran && result.cancelled && !result.finished);
  EXPECT_EQ(rec.asked, std::vector<int>{slot::kDeleteUnfinishedTarget * 100 + slot::kPrompt});
  EXPECT_TRUE(rec.shown.empty()) << "a box saying the backup finished";
  EXPECT_EQ(result.imagePath, target);  // kept, as asked, unfinished
}

// A write that fails once the image's length is reserved (here the file size
// limit is lowered after the reservation) ends the copy unfinished.
TEST_F(ImageBackupTest, WriteFailingAfterTheReservationIsNotFinished) {
  OpenSource(1000);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rec.answer = true;  // the unfinished copy is deleted
    rec.onReport = [] {
      const rlimit small{200 * 512, 200 * 512};
      ::setrlimit(RLIMIT_FSIZE, &small);
    };
    // Exit code: 1 finished, 2 "writing failed" after copying began, 4 a "Finished" box.
    int code = Run(0, 999).finished ? 1 : 0;
    for (const int box : rec.shown) {
      if (box == slot::kImageWriteFailed * 100 + slot::kError && !rec.reports.empty()) code |= 2;
      if (box / 100 == slot::kBackupFinished || box / 100 == slot::kFinishedWithBadSectors) code |= 4;
    }
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "the unfinished copy was deleted as asked";
}

// The image's whole length is reserved on the disk before copying, not
// just set as a length: a sparse file would run out of room part-way.
TEST_F(ImageBackupTest, ReservationAllocatesTheImagesBlocks) {
  OpenSource(1000);
  const std::int64_t length = 1000 * 512;
  std::int64_t allocated = -1;
  rec.onReport = [&] {
    if (allocated >= 0) return;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      const std::string file = std::filesystem::read_symlink(fd.path(), error).string();
      struct stat st {};
      if (error || file.rfind(dir.path().string() + "/", 0) != 0 || ::stat(fd.path().c_str(), &st) != 0) continue;
      if (st.st_size == length) allocated = static_cast<std::int64_t>(st.st_blocks) * 512;
    }
  };
  ASSERT_TRUE(Run(0, 999).finished);
  ASSERT_GE(allocated, 0) << "the image being copied was not found";
  EXPECT_GE(allocated, length);
}

}  // namespace
}  // namespace vellumark
