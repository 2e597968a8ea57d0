// Copying a sector range of the open source to a raw image file.
#include "backup/image_backup.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>

#include "access/memory_platform_source.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

struct RecordingPrompt final : Prompt {
  void Show(const Message& m) override { shown.push_back(m); }
  bool AskYesNo(const Message& m) override { asked.push_back(m); return answer; }
  std::vector<Message> shown, asked;
  bool answer = false;
};

struct RecordingProgress final : ProgressSink {
  void StageStarted(ProgressStage) override {}
  void Report(const ProgressReport& r) override { reports.push_back(r); }
  void StageEnded(ProgressStage) override {}
  std::vector<ProgressReport> reports;
};

// Presses Cancel while events run right after the given report.
struct CancellingPump final : Pump {
  void ProcessPendingEvents() override {
    if (backup && cancelAtReport > 0 && progress->reports.size() == cancelAtReport) backup->Cancel();
  }
  ImageBackup* backup = nullptr;
  const RecordingProgress* progress = nullptr;
  std::size_t cancelAtReport = 0;
};

class ImageBackupTest : public ::testing::Test {
 protected:
  // Opens a source of random sectors: an image, or a stand-in device with its own sector size.
  void OpenSource(std::int64_t sectors, std::uint32_t sectorSize = 512, bool device = false) {
    bytes = test::PatternBytes(static_cast<std::size_t>(sectors) * sectorSize, 7);
    auto& entry = platform->Add("source", bytes);
    if (device) entry.sectorSize = sectorSize;
    ASSERT_TRUE((device ? source.OpenPartition("source", "source") : source.OpenImageFile("source")).ok());
    ASSERT_EQ(source.ScanGeometry().BytesPerSector, sectorSize);
  }
  BackupResult Run(std::int64_t first, std::int64_t last) {
    return backup.Run({std::to_string(first), std::to_string(last)}, target);
  }
  std::vector<std::uint8_t> Sectors(std::int64_t first, std::int64_t last, std::uint32_t size = 512) const {
    return {bytes.begin() + first * size, bytes.begin() + (last + 1) * size};
  }

  // The backup runs in a child whose file size limit the image exceeds; the exit
  // code tells what happened: 1 finished, 2 the no-room box (caption Error) came
  // before any copying, 4 a closing "Finished" box, 8 any other box or question.
  int BackupWithFileSizeLimit(rlim_t limit, std::int64_t last) {
    const pid_t child = ::fork();
    if (child == 0) {
      const rlimit small{limit, limit};
      ::setrlimit(RLIMIT_FSIZE, &small);
      std::signal(SIGXFSZ, SIG_IGN);
      const BackupResult result = backup.Run({"0", std::to_string(last)}, target);
      int code = result.finished ? 1 : 0;
      for (const Message& m : prompt.shown) {
        if (m.textSlot == slot::kNoFreeSpace && m.captionSlot == slot::kError && progress.reports.empty()) code |= 2;
        else if (m.textSlot == slot::kBackupFinished || m.textSlot == slot::kFinishedWithBadSectors) code |= 4;
        else if (m.textSlot != slot::kNoFreeSpace) code |= 8;
      }
      ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  MemoryPlatformSource* platform = new MemoryPlatformSource;
  SectorSource source{std::unique_ptr<PlatformSource>(platform)};
  RecordingPrompt prompt;
  CancellingPump pump;
  RecordingProgress progress;
  FrontEnd frontEnd{prompt, pump, progress};
  ImageBackup backup{source, frontEnd};
  std::vector<std::uint8_t> bytes;
  test::TempDir dir;
  std::string target = dir / "backup.img";
};

TEST_F(ImageBackupTest, ImageHoldsTheRangeSectorForSector) {
  const struct { std::uint32_t size; bool device; std::int64_t first, last; } cases[] = {
      {512, false, 100, 399}, {512, false, 7, 7}, {512, false, 0, 999}, {2048, true, 3, 70}, {4096, true, 1, 20}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + std::to_string(c.first) + ".." + std::to_string(c.last));
    prompt.shown.clear();
    OpenSource(1000, c.size, c.device);
    const BackupResult result = Run(c.first, c.last);
    EXPECT_TRUE(result.ran && result.finished);
    EXPECT_EQ(result.errors, 0);
    EXPECT_EQ(test::ReadFileBytes(target), Sectors(c.first, c.last, c.size));
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].textSlot, slot::kBackupFinished);
    EXPECT_EQ(prompt.shown[0].captionSlot, slot::kPrompt);
    EXPECT_TRUE(prompt.asked.empty());
  }
}

TEST_F(ImageBackupTest, RangesOffTheSourceAreRefusedBeforeAnythingIsCreated) {
  OpenSource(1000);
  EXPECT_EQ(backup.CheckRange({"0", "999"}), 0);
  const struct { const char* first; const char* last; } cases[] = {
      {"", "10"}, {"0", ""}, {"a", "10"}, {"0", "1O"}, {"11", "10"}, {"0", "1000"}, {"-1", "10"}};
  for (const auto& c : cases) {
    EXPECT_EQ(backup.CheckRange({c.first, c.last}), slot::kInvalidBackupRange) << c.first << ".." << c.last;
    const BackupResult result = backup.Run({c.first, c.last}, target);
    EXPECT_FALSE(result.ran);
    EXPECT_EQ(result.refusalSlot, slot::kInvalidBackupRange);
    EXPECT_FALSE(std::filesystem::exists(target));
  }
}

TEST_F(ImageBackupTest, UnreadableSectorIsWrittenAsZerosInItsOwnPlace) {
  OpenSource(1000);
  platform->FailReads(150 * 512 + 17, 1);  // inside the first 128-sector chunk of 100..399
  const BackupResult result = Run(100, 399);
  EXPECT_TRUE(result.finished);
  EXPECT_EQ(result.errors, 1);
  auto expected = Sectors(100, 399);
  std::fill_n(expected.begin() + 50 * 512, 512, 0);
  EXPECT_EQ(test::ReadFileBytes(target), expected);
  ASSERT_EQ(prompt.shown.size(), 1u);
  EXPECT_EQ(prompt.shown[0].textSlot, slot::kFinishedWithBadSectors);
  EXPECT_EQ(prompt.shown[0].captionSlot, slot::kPrompt);
  ASSERT_EQ(progress.reports.size(), 3u);
  EXPECT_EQ(progress.reports[0].errors, 0);
  EXPECT_EQ(progress.reports[1].sector, 228);
  EXPECT_EQ(progress.reports[1].errors, 1);
}

TEST_F(ImageBackupTest, CancelAsksWhetherToDeleteTheUnfinishedImage) {
  for (const bool yes : {true, false}) {
    SCOPED_TRACE(yes ? "yes" : "no");
    OpenSource(1000);
    prompt.asked.clear();
    prompt.answer = yes;
    progress.reports.clear();
    pump.backup = &backup;
    pump.progress = &progress;
    pump.cancelAtReport = 1;
    const BackupResult result = Run(0, 999);
    EXPECT_TRUE(result.ran);
    EXPECT_FALSE(result.finished);
    EXPECT_EQ(progress.reports.size(), 1u);  // no chunk after the one under way
    ASSERT_EQ(prompt.asked.size(), 1u);
    EXPECT_EQ(prompt.asked[0].textSlot, slot::kDeleteUnfinishedTarget);
    EXPECT_EQ(prompt.asked[0].captionSlot, slot::kPrompt);
    EXPECT_TRUE(prompt.shown.empty());
    EXPECT_EQ(result.deleted, yes);
    EXPECT_EQ(std::filesystem::exists(target), !yes);
    if (!yes) {
      const auto image = test::ReadFileBytes(target);
      ASSERT_EQ(image.size(), 1000u * 512);  // the reserved length stays
      EXPECT_TRUE(std::equal(image.begin(), image.begin() + 128 * 512, bytes.begin()));
    }
  }
}

TEST_F(ImageBackupTest, TargetOnTheSourceDeviceIsRefused) {
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  platform->Add("/dev/stand-in", test::PatternBytes(100 * 512)).deviceNumber = st.st_dev;
  ASSERT_TRUE(source.OpenPartition("/dev/stand-in", "stand-in").ok());
  const BackupResult result = Run(0, 99);
  EXPECT_FALSE(result.ran);
  EXPECT_EQ(result.refusalSlot, slot::kImageOnSourceDrive);
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(ImageBackupTest, TargetWithoutRoomNeverEndsAsFinished) {
  OpenSource(1000);
  EXPECT_EQ(BackupWithFileSizeLimit(4096, 999), 2);  // refused at the reservation
  const int partWay = BackupWithFileSizeLimit(300 * 512, 999);
  EXPECT_EQ(partWay & 5, 0) << partWay;  // may fail at the reservation or at a later write
  EXPECT_NE(partWay, -1);
}

}  // namespace
}  // namespace vellumark
