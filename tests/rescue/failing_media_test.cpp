// Rescues from a disk that fails: sectors that cannot be read, a source that
// stops giving data part-way, and a destination that stops taking files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "access/memory_platform_source.h"
#include "rescue/carve_services.h"
#include "rescue/deep_scan.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes Corpus(const char* name) { return test::ReadFileBytes(std::string(VELLUMARK_CORPUS_DIR) + "/doc/" + name); }

struct Messages final : Prompt {
  void Show(const Message& m) override { shown.push_back({m.textSlot, m.suffix}); }
  bool AskYesNo(const Message&) override { return false; }
  std::string SuffixOf(int slot) const {
    for (const auto& [s, suffix] : shown) {
      if (s == slot) return suffix;
    }
    return "(not shown)";
  }
  std::vector<std::pair<int, std::string>> shown;
};

// Two Word documents on a 1 MiB image of random sectors, rescued into a real folder.
class FailingDisk : public ::testing::Test {
 protected:
  static constexpr std::int64_t kFirst = 100;   // 52117.doc, 14 sectors
  static constexpr std::int64_t kSecond = 300;  // 47304.doc, 43 sectors; its 1Table holds file sector 13

  void SetUp() override {
    first = Corpus("52117.doc");
    second = Corpus("47304.doc");
    if (first.empty() || second.empty()) VELLUMARK_CANNOT_RUN("no document corpus");
    image = test::PatternBytes(1 << 20);
    std::copy(first.begin(), first.end(), image.begin() + kFirst * 512);
    std::copy(second.begin(), second.end(), image.begin() + kSecond * 512);
    platform->Add("disk.img", image);
    ASSERT_TRUE(source.OpenImageFile("disk.img").ok());
  }
  ScanResult Rescue() { return scan.Run({dir.path().string(), "0", "2047", 0x400, {}}); }
  Bytes Written(std::int64_t sector) const { return test::ReadFileBytes(OutputName(dir / "", sector * 512, ".DOC")); }
  const DocumentInspection* Inspected(std::int64_t sector) const {
    for (const DocumentInspection& d : scan.Report()) {
      if (d.record.startSector == sector) return &d;
    }
    return nullptr;
  }

  Bytes first, second, image;
  test::TempDir dir;
  MemoryPlatformSource* platform = new MemoryPlatformSource;
  SectorSource source{std::unique_ptr<PlatformSource>(platform)};
  VolumeParameters parameters{source};
  Messages messages;
  NoPump pump;
  NoProgress progress;
  FrontEnd frontEnd{messages, pump, progress};
  DeepScan scan{source, parameters, frontEnd};
};

TEST_F(FailingDisk, ADocumentWithABadSectorComesBackWithZerosThereAndItsNeighbourWhole) {
  // One bad sector inside the second document, one 54 sectors after the
  // first, in the same 64 KiB read as the first document.
  const std::int64_t inside = kSecond + 13, after = kFirst + 14 + 54;
  platform->FailReads(inside * 512, 512);
  platform->FailReads(after * 512, 512);
  const ScanResult result = Rescue();

  EXPECT_EQ(result.rescued, 2);
  EXPECT_TRUE(Written(kFirst) == first);
  Bytes zeroed = second;
  std::fill_n(zeroed.begin() + 13 * 512, 512, 0);
  EXPECT_TRUE(Written(kSecond) == zeroed);
  ASSERT_NE(Inspected(kFirst), nullptr);
  ASSERT_NE(Inspected(kSecond), nullptr);
  EXPECT_EQ(Inspected(kFirst)->verdict, Verdict::Whole);
  EXPECT_EQ(Inspected(kSecond)->verdict, Verdict::Damaged);
  EXPECT_EQ(Inspected(kSecond)->fault, "1 unreadable sectors, written as zeros");
  EXPECT_EQ(Inspected(kSecond)->record.unreadableSectors, std::vector<std::int64_t>{inside});

  EXPECT_EQ(result.unreadableSectors, 2);
  EXPECT_EQ(messages.SuffixOf(slot::kUnreadableSectors), "2: 168 313");
  // The search's read-ahead block that holds both fails once; then each bad
  // sector fails one read of the window that holds it and one of its own,
  // however many times the search and the carvers come by.
  EXPECT_EQ(platform->FailedReadCalls(), 1 + 4);
  EXPECT_EQ(messages.shown.back().first, slot::kRescuedFile);
}

TEST_F(FailingDisk, ASourceThatEndsPartWayIsToldWithTheSector) {
  platform->Find("disk.img")->bytes.resize(200 * 512);  // after opening: it claims 1 MiB
  const ScanResult result = Rescue();
  EXPECT_TRUE(result.ran);
  EXPECT_EQ(result.sourceEndedAt, 200);
  EXPECT_EQ(messages.SuffixOf(slot::kSourceEnded), "200");
  EXPECT_EQ(result.rescued, 1);  // what came before the end
  EXPECT_EQ(result.unreadableSectors, 0);
}

// Cut after the search, the source is first found short by the carving of
// the highest document, far above where it now ends: the sector named is
// still the first one it no longer has.
TEST_F(FailingDisk, ASourceThatShrinksAfterTheSearchIsToldWhereItNowEnds) {
  struct CutAtCarving final : ProgressSink {
    MemoryPlatformSource* platform;
    void StageStarted(ProgressStage stage) override {
      if (stage == ProgressStage::Carve) platform->Find("disk.img")->bytes.resize(200 * 512 + 100);
    }
    void Report(const ProgressReport&) override {}
    void StageEnded(ProgressStage) override {}
  } cutting;
  cutting.platform = platform;
  FrontEnd cut{messages, pump, cutting};
  DeepScan shrinking(source, parameters, cut);
  const ScanResult result = shrinking.Run({dir.path().string(), "0", "2047", 0x400, {}});
  EXPECT_EQ(result.sourceEndedAt, 200);
  EXPECT_EQ(messages.SuffixOf(slot::kSourceEnded), "200");
  EXPECT_EQ(result.rescued, 1);  // the document below the cut
  EXPECT_TRUE(Written(kFirst) == first);
}

TEST_F(FailingDisk, DocumentsThatCannotBeWrittenAreCountedWithTheReason) {
  // The folder goes away after the checks, as an unplugged stick would.
  const std::string gone = dir / "gone";
  fs::create_directory(gone);
  messages.shown.clear();
  struct Remover final : Pump {
    std::string folder;
    void ProcessPendingEvents() override {
      if (!folder.empty()) fs::remove_all(folder);
    }
  } remover;
  remover.folder = gone;
  FrontEnd removing{messages, remover, progress};
  DeepScan removed(source, parameters, removing);
  const ScanResult result = removed.Run({gone, "0", "2047", 0x400, {}});
  EXPECT_EQ(result.rescued, 0);
  EXPECT_EQ(result.notWritten, 2);
  EXPECT_NE(result.writeFailure.find("No such file or directory: " + gone), std::string::npos) << result.writeFailure;
  EXPECT_NE(messages.SuffixOf(slot::kNotWritten).find("2 (No such file or directory"), std::string::npos);
  ASSERT_EQ(removed.Report().size(), 2u);
  EXPECT_EQ(removed.Report()[0].fault.rfind("not written: No such file or directory", 0), 0u);
}

}  // namespace
}  // namespace vellumark
