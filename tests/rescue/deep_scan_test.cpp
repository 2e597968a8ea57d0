#include "rescue/deep_scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <utility>

#include "access/memory_platform_source.h"
#include "common/sector_number.h"
#include "rescue/carvers/carver_table.h"
#include "rescue/media_carver_fixture.h"
#include "rescue/percent_text.h"
#include "rescue/search_read_ahead.h"
#include "rescue/sector_classifier.h"
#include "support/fixtures.h"
#include "texts/refusal_slots.h"

namespace vellumark {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Sectors = std::vector<std::int64_t>;
using Stage = ProgressStage;
constexpr std::int64_t kSectors = 1024;
const Bytes kGif = {'G', 'I', 'F', '8', '9', 'a'};  // recognised, never carved
const Bytes kOle = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// One directory entry, FILE.TXT with the archive bit, dated (10 << 9) | (1 << 5) | 1.
Bytes FatDirectory() {
  Bytes entry = {'F', 'I', 'L', 'E', ' ', ' ', ' ', ' ', 'T', 'X', 'T', 0x20};
  entry.resize(32);
  entry[24] = 0x21, entry[25] = 0x14;
  return entry;
}

// Everything the scan shows the user; onPump runs whenever events are let run.
struct Recorder final : Prompt, Pump, ProgressSink {
  void Show(const Message& m) override {
    shown.push_back(std::to_string(m.textSlot) + "/" + std::to_string(m.captionSlot) + "/" + m.suffix);
  }
  bool AskYesNo(const Message&) override { return false; }
  void ProcessPendingEvents() override { if (onPump) onPump(); }
  void StageStarted(Stage s) override { stages += s == Stage::Search ? "search+ " : "carve+ "; }
  void StageEnded(Stage s) override { stages += s == Stage::Search ? "search- " : "carve- "; }
  void Report(const ProgressReport& r) override { reports.push_back(r); }
  std::vector<ProgressReport> Of(Stage s) const {
    std::vector<ProgressReport> out;
    for (const ProgressReport& r : reports) if (r.stage == s) out.push_back(r);
    return out;
  }
  // "sector:share " per report of a stage; the share is the percentage text or the carve progress.
  std::string Trail(Stage s) const {
    std::string out;
    for (const ProgressReport& r : Of(s)) {
      out += (r.sector ? std::to_string(*r.sector) + ":" : "") +
             r.percentText.value_or(std::to_string(r.progressPercent.value_or(-1))) + " ";
    }
    return out;
  }
  void Clear() { *this = Recorder(); }

  std::vector<std::string> shown;  // text/caption/suffix
  std::vector<ProgressReport> reports;
  std::string stages;
  std::function<void()> onPump;
};

class DeepScanTest : public ::testing::Test {
 protected:
  // Opens an image of zero sectors with GIF signatures and other bytes planted at sector starts.
  void Open(const Sectors& gifs, const std::vector<std::pair<std::int64_t, Bytes>>& others = {}) {
    Bytes image(kSectors * 512);
    for (const std::int64_t s : gifs) std::copy(kGif.begin(), kGif.end(), image.begin() + s * 512);
    for (const auto& [s, bytes] : others) std::copy(bytes.begin(), bytes.end(), image.begin() + s * 512);
    platform->Add("disk.img", std::move(image));
    ASSERT_TRUE(source.OpenImageFile("disk.img").ok());
    rec.Clear();
  }
  ScanResult Scan(const std::string& first = "0", const std::string& last = "1023", TypeMask mask = 0x400) {
    return scan.Run({dir.path().string(), first, last, mask, {}});
  }
  Sectors HitSectors() const {
    Sectors out;
    for (const SectorHit& hit : scan.Hits()) out.push_back(hit.sector);
    return out;
  }

  test::TempDir dir;
  MemoryPlatformSource* platform = new MemoryPlatformSource;  // owned by source
  SectorSource source{std::unique_ptr<PlatformSource>(platform)};
  VolumeParameters parameters{source};
  Recorder rec;
  FrontEnd frontEnd{rec, rec, rec};
  DeepScan scan{source, parameters, frontEnd};
};

// Blanks around the number (a paste) are no fault; blanks inside it are.
TEST(ParseSectorNumber, DecimalSigned64BitOrMinusOne) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"0", 0}, {"+5", 5}, {"-3", -3}, {"12a", -1}, {"", -1}, {"++5", -1}, {"9223372036854775808", -1},
      {" 5", 5}, {" 262143 ", 262143}, {"\t7\n", 7}, {"5 6", -1}, {"  ", -1}, {"+ 5", -1}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(ParseSectorNumber(text), expected) << '"' << text << '"';
}

TEST(PercentText, TwoDecimals) {
  EXPECT_EQ(PercentText(10000, 0) + PercentText(10000, 5) + PercentText(3, 1) + PercentText(7, 7),
            "0.00%0.05%33.33%100.00%");
}

TEST_F(DeepScanTest, InputChecksRefuseInOrderAndLeaveTheLastScanAlone) {
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  test::WriteFileBytes(dir / "file", {1});
  platform->Add("/dev/same", Bytes(kSectors * 512)).deviceNumber = st.st_dev;
  platform->Add("/dev/other", Bytes(kSectors * 512)).deviceNumber = ~std::uint64_t{0};
  Open({5});
  ASSERT_TRUE(Scan().ran);
  const std::string here = dir.path().string(), missing = dir / "missing", file = dir / "file";
  const struct { const char* source; TypeMask mask; std::string folder, first, last; int slot; } cases[] = {
      {"/dev/same", 0, "", "x", "y", 20},           {"/dev/same", 0x400, "", "x", "y", 21},
      {"disk.img", 0x400, missing, "0", "1", 21},   {"disk.img", 0x400, file, "0", "1", 21},
      {"/dev/same", 0x400, here, "x", "y", 22},     {"/dev/other", 0x400, here, "", "5", 23},
      {"disk.img", 0x400, here, "abc", "5", 23},    {"disk.img", 0x400, here, "-1", "5", 23},
      {"disk.img", 0x400, here, "6", "5", 23},      {"disk.img", 0x400, here, "0", "1024", 23},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " [" + c.folder + "] " + c.first + ".." + c.last);
    ASSERT_TRUE(c.source[0] == 'd' ? source.OpenImageFile(c.source).ok() : source.OpenPartition(c.source, "p").ok());
    rec.Clear();
    const ScanResult result = scan.Run({c.folder, c.first, c.last, c.mask, {}});
    EXPECT_EQ(std::pair(result.ran, SlotOf(result.refusal)), std::pair(false, c.slot));
    EXPECT_EQ(HitSectors(), Sectors{5});
    EXPECT_TRUE(rec.stages.empty() && rec.shown.empty());
  }
  // A report put elsewhere must not land on the source either.
  ASSERT_EQ(::stat("/proc", &st), 0);
  platform->Add("/dev/proc", Bytes(kSectors * 512)).deviceNumber = st.st_dev;
  ASSERT_TRUE(source.OpenPartition("/dev/proc", "p").ok());
  EXPECT_EQ(scan.Run({here, "0", "5", 0x400, "/proc/report.csv"}).refusal, Refusal::ReportOnSource);
  test::WriteFileBytes(dir / "image.img", Bytes(kSectors * 512));
  ASSERT_EQ(::stat((dir / "image.img").c_str(), &st), 0);
  platform->Add(dir / "image.img", Bytes(kSectors * 512)).fileId = FileId{st.st_dev, st.st_ino};
  ASSERT_TRUE(source.OpenImageFile(dir / "image.img").ok());
  EXPECT_EQ(scan.Run({here, "0", "5", 0x400, dir / "image.img"}).refusal, Refusal::ReportOnSource);
  EXPECT_TRUE(rec.stages.empty() && rec.shown.empty());
}

TEST_F(DeepScanTest, RangeIsInclusiveUpToTheLastSector) {
  const struct { const char* first; const char* last; Sectors hits; } cases[] = {
      {"0", "1023", {6, 7, 8, 1023}}, {"7", "7", {7}}, {"+7", "8", {7, 8}}, {"8", "1023", {8, 1023}}};
  for (const auto& c : cases) {
    Open({6, 7, 8, 1023});
    EXPECT_TRUE(Scan(c.first, c.last).ran);
    EXPECT_EQ(HitSectors(), c.hits) << c.first << ".." << c.last;
  }
}

TEST_F(DeepScanTest, SearchRecordsHitsInOrderAndReportsEachHitAndEvery256thQuietSector) {
  Open({100}, {{40, FatDirectory()}, {12, {0xFF, 0xD8, 0xFF, 0xDB}}});
  ASSERT_TRUE(Scan("10", "609").ran);
  // The directory hit has since been moved past its one-sector cluster.
  const std::vector<SectorHit> expected = {{12, code::kJpegQuantFirst}, {41, code::kFatDirectory}, {100, code::kGif}};
  EXPECT_EQ(scan.Hits(), expected);
  // Sectors 10..609: three hits, then the 256th and 512th of the 597 others.
  EXPECT_EQ(rec.Trail(Stage::Search), "12:0.33% 40:5.00% 100:15.00% 268:43.00% 524:85.66% ");
}

TEST_F(DeepScanTest, FoundCountsCompoundDocumentsOnlyForDocumentTypes) {
  const std::pair<TypeMask, int> cases[] = {{0x400, 2}, {0x800, 2}, {0x1000, 2}, {0x1, 0}, {0x2200, 0}};
  for (const auto& [mask, found] : cases) {
    Open({5}, {{3, kOle}, {9, kOle}});
    ASSERT_TRUE(Scan("0", "1023", mask).ran);
    const auto search = rec.Of(Stage::Search);
    ASSERT_FALSE(search.empty());
    EXPECT_EQ(search.back().found, found) << std::hex << mask;
  }
}

TEST_F(DeepScanTest, KnownPhaseExaminesOnlyClusterStartsOfTheListedSize) {
  const struct { int entry; std::int32_t phase; const char* first; Sectors hits; } cases[] = {
      {3, 3, "0", {11, 27}},  {3, 19, "0", {11, 27}},        {3, 3, "12", {27}},
      {1, 0, "0", {12, 28}},  {0, 3, "0", {11, 12, 27, 28}},  {-1, 3, "0", {11, 27}},  // -1: nothing listed, 8 stays
  };
  for (const auto& c : cases) {
    Open({11, 12, 27, 28});
    source.ScanGeometry().SectorsPerCluster = 8, source.ScanGeometry().ClusterPhase = c.phase;
    parameters.SelectClusterSize(c.entry);
    ASSERT_TRUE(Scan(c.first).ran);
    EXPECT_EQ(HitSectors(), c.hits) << "entry " << c.entry << " phase " << c.phase << " from " << c.first;
  }
}

// A document's header counts wherever it lies, known phase or inferred:
// no cluster layout drops it. A header alone rebuilds nothing, and is
// listed all the same, as damaged beyond rebuilding; the GIFs are not.
TEST_F(DeepScanTest, DocumentHeadersOffTheClusterGridAreKeptAndListed) {
  const Bytes zip = {'P', 'K', 3, 4, 20, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                     19, 0, 0, 0, '[', 'C', 'o', 'n', 't', 'e', 'n', 't', '_', 'T', 'y', 'p', 'e', 's', ']',
                     '.', 'x', 'm', 'l'};
  const struct { std::int32_t knownPhase; Sectors gifs; Sectors hits; } cases[] = {
      {3, {11, 12, 27, 28}, {11, 13, 20, 27, 44}},         // the boot sector's phase: only cluster starts searched
      {-1, {3, 11, 19, 27, 37}, {3, 11, 13, 19, 20, 27, 44}},  // inferred at 3: 37 goes, the documents stay
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.knownPhase);
    Open(c.gifs, {{13, kOle}, {20, kOle}, {44, zip}});
    source.ScanGeometry().SectorsPerCluster = 8, source.ScanGeometry().ClusterPhase = c.knownPhase;
    parameters.SelectClusterSize(3);
    ASSERT_TRUE(Scan("0", "1023", type_mask::kWord | type_mask::kDocx).ran);
    EXPECT_EQ(HitSectors(), c.hits);
    EXPECT_EQ(scan.LastRun().chosenPhase, 3);
    Sectors listed;
    for (const DocumentInspection& d : scan.Report()) {
      listed.push_back(d.record.startSector);
      EXPECT_TRUE(d.record.notRebuilt && !d.record.saved && d.record.outputName.empty());
      EXPECT_EQ(d.verdict, Verdict::Damaged);
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Sectors{13, 20, 44}));
  }
}

TEST_F(DeepScanTest, UnreadableWindowFallsBackToOneSectorAndUnreadableSectorIsSkipped) {
  Open({10, 11, 12});
  platform->FailReads(11 * 512, 512);
  ASSERT_TRUE(Scan().ran);
  EXPECT_EQ(HitSectors(), (Sectors{10, 12}));
}

// An image file's blocks are mapped and classified in place; the hits, and
// the sectors learned unreadable, must be those of reading every block, also
// when a mapped page fails while it is classified.
TEST_F(DeepScanTest, MappedImageGivesTheHitsAndUnreadableSectorsOfAReadOne) {
  constexpr std::int64_t kPerBlock = SearchReadAhead::kBlockBytes / 512, kLast = 3 * kPerBlock - 1;
  const Sectors gifs = {0, 3, kPerBlock - 1, kPerBlock, kPerBlock + 3, kPerBlock + 11, 2 * kPerBlock + 3, kLast};
  // The GIF at kPerBlock + 3 lies in the unreadable sector.
  const Sectors everyHit = {0, 3, kPerBlock - 1, kPerBlock, kPerBlock + 11, 2 * kPerBlock + 3, kLast};
  const Sectors clusterStartHits = {3, kPerBlock + 11, 2 * kPerBlock + 3};  // those 3 past a multiple of 8
  enum Way { kRead, kMapped, kMappedFaulting };
  for (const bool filtered : {false, true}) {
    for (const Way way : {kRead, kMapped, kMappedFaulting}) {
      Bytes image(static_cast<std::size_t>(kLast + 1) * 512);
      for (const std::int64_t s : gifs) std::copy(kGif.begin(), kGif.end(), image.begin() + s * 512);
      platform->Add("disk.img", std::move(image)).mappable = way != kRead;
      platform->ClearFailures();
      platform->FailReads((kPerBlock + 3) * 512, 512);
      if (way == kMappedFaulting) platform->FailMappedReads();
      const int mapsBefore = platform->MapCalls();
      ASSERT_TRUE(source.OpenImageFile("disk.img").ok());
      if (filtered) {
        source.ScanGeometry().SectorsPerCluster = 8, source.ScanGeometry().ClusterPhase = 3;
        parameters.SelectClusterSize(3);
      }
      ASSERT_TRUE(Scan("0", std::to_string(kLast)).ran);
      const std::string label = std::string(filtered ? "cluster starts, " : "every sector, ") +
                                (way == kRead ? "read" : way == kMapped ? "mapped" : "mapped, failing");
      EXPECT_EQ(HitSectors(), filtered ? clusterStartHits : everyHit) << label;
      EXPECT_EQ(source.UnreadableSectors(), (std::set<std::int64_t>{kPerBlock + 3})) << label;
      // The blocks around the failing one were mapped.
      EXPECT_EQ(platform->MapCalls() - mapsBefore, way == kRead ? 0 : 2) << label;
    }
  }
}

TEST_F(DeepScanTest, InferredPhaseIsTheResidueWithMostHits) {
  const struct { Sectors gifs; std::int32_t phase; std::uint32_t spc; Sectors kept; } cases[] = {
      {{3, 11, 19, 27, 37}, 3, 8, {3, 11, 19, 27}},
      {{3, 11, 19, 37}, -1, 1, {3, 11, 19, 37}},  // too few to see an alignment
      {{2, 6, 10, 14, 18, 22, 26, 30, 34, 38}, 2, 8, {2, 10, 18, 26, 34}},
  };
  for (const auto& c : cases) {
    Open(c.gifs);
    parameters.SelectClusterSize(3);
    ASSERT_TRUE(Scan().ran);
    if (c.spc > 1) { EXPECT_EQ(scan.LastRun().chosenPhase, c.phase); }
    EXPECT_EQ(scan.LastRun().spc, c.spc);
    EXPECT_EQ(source.ScanGeometry().SectorsPerCluster, c.spc);
    EXPECT_EQ(HitSectors(), c.kept);
  }
}

TEST_F(DeepScanTest, DirectoryHitClaimsItsWholeCluster) {
  Open({35}, {{19, FatDirectory()}});
  parameters.SelectClusterSize(3);
  source.ScanGeometry().ClusterPhase = 3;
  std::vector<bool> claimed;
  rec.onPump = [&] {
    const auto carve = rec.Of(Stage::Carve);  // just after the directory hit's report
    if (claimed.empty() && !carve.empty() && carve.back().sector == 27) {
      for (std::int64_t s = 18; s <= 27; ++s) claimed.push_back(scan.LastRun().claims.IsSectorClaimed(s));
    }
  };
  ASSERT_TRUE(Scan().ran);
  EXPECT_EQ(claimed, (std::vector<bool>{false, true, true, true, true, true, true, true, true, false}));
  EXPECT_EQ(HitSectors(), (Sectors{27, 35}));
}

// A cancelled search is a stopped run: before the count, a message says how
// far the search came (the sector after the one it stopped at is the next
// it would have looked at) and that every hit found was carved.
TEST_F(DeepScanTest, CancelEndsTheSearchAndTheHitsSoFarAreCarved) {
  // Pumps come at the start (as the window appears), then at each hit.
  // A case with atPump 0 cancels at the report of the hit at 1022 instead.
  const struct { Sectors gifs; int atPump; Sectors hits; std::string search, carve, stop; } cases[] = {
      {{100, 200, 300, 400}, 3, {100, 200}, "100:9.76% 200:19.53% ", "200:50 100:100 50 100 ", "114/112/19.62%, 201"},
      // A Cancel given as the window appears is not lost.
      {{100, 200, 300, 400}, 1, {}, "", "", "114/112/0.00%, 0"},
      // Stopped before the range's last sector: that one was never looked at.
      {{100, 200, 300, 1022}, 0, {100, 200, 300, 1022},
       "100:9.76% 200:19.53% 257:25.09% 300:29.29% 514:50.19% 770:75.19% 1022:99.80% ",
       "1022:25 300:50 200:75 100:100 25 50 75 100 ", "114/112/99.90%, 1023"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.atPump);
    Open(c.gifs);
    int pumps = 0;
    rec.onPump = [&] {
      const auto search = rec.Of(Stage::Search);
      const bool at1022 = !search.empty() && search.back().sector == 1022;
      if (c.atPump == 0 ? at1022 : ++pumps == c.atPump) scan.CancelSearch();
    };
    const ScanResult result = Scan();
    ASSERT_TRUE(result.ran);
    EXPECT_EQ(HitSectors(), c.hits);
    EXPECT_EQ(rec.Trail(Stage::Search), c.search);
    EXPECT_EQ(rec.Trail(Stage::Carve), c.carve);
    EXPECT_EQ(rec.shown, (std::vector<std::string>{c.stop, "27/29/0"}));
    ASSERT_TRUE(result.stopped);
    EXPECT_TRUE(result.stopped->searchCutShort);
    EXPECT_FALSE(result.stopped->carvingCutShort);
  }
}

TEST_F(DeepScanTest, CarveRunsTwoPassesDownwardAndHonoursPauseAndStop) {
  enum Then { kNothing, kResume, kStop };
  // Pass A shows the hit's sector with the share done; pass B only the share.
  const std::string bothPasses = "400:25 300:50 200:75 100:100 25 50 75 100 ";
  // A stop leaves hits uncarved after a whole search: the run says so.
  const struct { Then then; std::string shown; std::vector<std::string> messages; } cases[] = {
      {kNothing, bothPasses, {"27/29/0"}},
      {kResume, bothPasses, {"27/29/0"}},
      {kStop, "400:25 300:50 ", {"113/112/100.00%, 1023", "27/29/0"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.then);
    Open({100, 200, 300, 400});
    int pausedPumps = 0;
    std::size_t reportsAtPause = 0;
    rec.onPump = [&] {
      if (pausedPumps > 0 && ++pausedPumps == 4) {
        EXPECT_EQ(rec.reports.size(), reportsAtPause);  // nothing moved while paused
        c.then == kResume ? scan.SetPaused(false) : scan.Stop();
      } else if (c.then != kNothing && pausedPumps == 0 && rec.Of(Stage::Carve).size() == 2) {
        scan.SetPaused(true);
        pausedPumps = 1;
        reportsAtPause = rec.reports.size();
      }
    };
    const ScanResult result = Scan();
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(rec.Trail(Stage::Carve), c.shown);
    EXPECT_EQ(rec.stages, "search+ search- carve+ carve- ");
    EXPECT_EQ(rec.shown, c.messages);
    EXPECT_EQ(result.stopped.has_value(), c.then == kStop);
  }
}

// A petabyte source (2^50 bytes, sparse: only its first sectors hold
// anything) opens and a small range of it is rescued; the claim map holds
// one chunk for the directory cluster claimed, never bits for the whole source.
TEST_F(DeepScanTest, PetabyteSourceCostsOnlyWhatIsClaimed) {
  Bytes start(kSectors * 512);
  const Bytes directory = FatDirectory();
  std::copy(directory.begin(), directory.end(), start.begin() + 19 * 512);
  platform->Add("huge.img", std::move(start)).sparseLength = std::int64_t{1} << 50;
  ASSERT_TRUE(source.OpenImageFile("huge.img").ok());
  ASSERT_EQ(source.ScanGeometry().LastSector, (std::int64_t{1} << 41) - 1);
  rec.Clear();
  std::size_t mostChunks = 0;
  std::int64_t mostClaimed = 0;
  rec.onPump = [&] {
    mostChunks = std::max(mostChunks, scan.LastRun().claims.AllocatedChunks());
    mostClaimed = std::max(mostClaimed, scan.LastRun().claims.CountClaimed());
  };
  ASSERT_TRUE(Scan("0", "1023").ran);
  EXPECT_EQ(HitSectors(), Sectors{20});  // moved past its one-sector cluster
  EXPECT_EQ(mostClaimed, 1);
  EXPECT_EQ(mostChunks, 1u);
  EXPECT_EQ(scan.LastRun().claims.AllocatedChunks(), 0u);  // given back after the run
}

// Every code the classifier gives selects its carver; the codes recognised
// but not carved select none on purpose.
TEST(CarverTable, EveryClassifierCodeSelectsItsCarver) {
  const struct { FileTypeCode code; Carver carver; } cases[] = {
      {code::kNone, nullptr}, {code::kJpeg, &JpegCarver}, {code::kJpegQuantFirst, &JpegCarver},
      {code::kGif, &GifCarver}, {code::kBmp, &BmpCarver}, {code::kCompoundDocument, &CompoundCarver},
      {code::kJetDatabase, nullptr}, {code::kRiffAvi, &RiffCarver}, {code::kMp3Id3, &Mp3Carver},
      {code::kPng, &PngCarver}, {code::kRiffWave, &RiffCarver}, {code::kRiffAcon, &RiffCarver},
      {code::kRiffCdxa, &RiffCarver}, {code::kAsfPropertiesFirst, &AsfCarver}, {code::kRar, &RarCarver},
      {code::kZip, &OfficeDocumentCarver}, {code::kCab, &CabCarver}, {code::kSevenZip, &SevenZipCarver},
      {code::kMp4, &Mp4Carver}, {code::kAsfOther, &AsfObjectCarver}, {code::kMpegAudio, &Mp3Carver},
      {code::kPdf, &PdfCarver}, {code::kGzip, &GzipCarver}, {code::kBzip2, &Bzip2Carver}, {code::kXz, &XzCarver},
      {code::kTar, &TarCarver}, {code::kElf, &ElfCarver}, {code::kPe, &PeCarver}, {code::kOgg, &OggCarver},
      {code::kFlac, &FlacCarver}, {code::kSqlite, &SqliteCarver}, {code::kSfntFont, &SfntFontCarver},
      {code::kWoff, &WoffCarver}, {code::kTiff, &TiffCarver}, {code::kRiffOther, &RiffFormCarver},
      {code::kMatroska, &MatroskaCarver}, {code::kSevenZipCurrent, &SevenZipCarver},
      {code::kFatDirectory, nullptr},  // claimed by the scan itself, a cluster at a time
  };
  for (const auto& c : cases) EXPECT_EQ(CarverFor(c.code), c.carver) << "code " << c.code;
  for (FileTypeCode unknown : {14, 38, 99, 101}) EXPECT_EQ(CarverFor(unknown), nullptr) << unknown;
}

// The sectors claimed when the carving ends (the run gives its claims back
// afterwards, so they are read at the last events the carving lets run).
class DeepScanClaimsTest : public DeepScanTest {
 protected:
  test::Runs ScanClaims(Bytes image) {
    platform->Add("disk.img", std::move(image));
    EXPECT_TRUE(source.OpenImageFile("disk.img").ok());
    rec.Clear();
    test::Runs claimed;
    rec.onPump = [&] {
      const ClaimMap& claims = scan.LastRun().claims;
      claimed.clear();
      for (std::int64_t s = 0; s <= claims.LastSector(); ++s) {
        if (!claims.IsSectorClaimed(s)) continue;
        if (!claimed.empty() && claimed.back().second == s - 1) claimed.back().second = s;
        else claimed.emplace_back(s, s);
      }
    };
    EXPECT_TRUE(Scan().ran);
    return claimed;
  }
  // What the carver alone claims on the same image, hit at sector hit.
  static test::Runs CarverClaims(test::MediaCarver carver, const Bytes& image, std::int64_t hit) {
    test::Disk disk(image);
    carver(disk.run, hit * 512);
    return disk.Claimed();
  }
};

// A JPEG without a JFIF or EXIF segment starts with its quantisation table.
// Such a start is common inside other files too, so these JPEGs are carved
// after everything else, from the sectors nobody else took: inside an
// archive found below them they are part of the archive, not a file.
TEST_F(DeepScanClaimsTest, JpegsStartingWithAQuantisationTableAreCarvedInTheSecondPass) {
  VELLUMARK_REQUIRE_TOOL("/usr/bin/convert");
  VELLUMARK_REQUIRE_TOOL("tar");
  test::TempDir tools;
  const Bytes jfif = test::Made(tools, "/usr/bin/convert -size 160x120 -seed 1 plasma:fractal -strip -quality 80 ", "j.jpg");
  ASSERT_TRUE(jfif[2] == 0xFF && jfif[3] == 0xE0);  // APP0 "JFIF", then the tables
  const std::size_t app0 = 4 + (std::size_t{jfif[4]} << 8 | jfif[5]);
  Bytes quantFirst = {0xFF, 0xD8};
  quantFirst.insert(quantFirst.end(), jfif.begin() + static_cast<std::ptrdiff_t>(app0), jfif.end());
  ASSERT_EQ(ClassifySector(quantFirst.data(), quantFirst.size()), code::kJpegQuantFirst);
  test::WriteFileBytes(tools / "q.jpg", quantFirst);
  const Bytes tar = test::Made(tools, "cd " + tools.path().string() + " && tar --format=ustar -cf ", "q.tar", " q.jpg");
  ASSERT_EQ(ClassifySector(tar.data(), tar.size()), code::kTar);
  ASSERT_TRUE(std::equal(quantFirst.begin(), quantFirst.end(), tar.begin() + 512));  // the JPEG at a sector start

  {
    SCOPED_TRACE("alone");
    Bytes image(kSectors * 512);
    std::copy(quantFirst.begin(), quantFirst.end(), image.begin() + 40 * 512);
    const test::Runs claims = ScanClaims(image);
    EXPECT_EQ(claims, test::Span(40, test::SectorsOf(quantFirst)));
  }
  {
    SCOPED_TRACE("inside an archive");
    Bytes image(kSectors * 512);
    std::copy(tar.begin(), tar.end(), image.begin() + 40 * 512);
    const test::Runs alone = CarverClaims(TarCarver, image, 40);
    ASSERT_FALSE(alone.empty());
    ASSERT_EQ(alone.front().first, 40);
    EXPECT_EQ(ScanClaims(image), alone) << "the archive is carved whole, the JPEG inside it is no file of its own";
  }
}

// An ASF file whose header starts with its file properties declares its
// length: it is claimed whole, unread, even where its objects cannot be walked.
TEST_F(DeepScanClaimsTest, PropertiesFirstAsfIsClaimedByItsDeclaredLength) {
  const Bytes header = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
  const Bytes properties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                            0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
  Bytes asf = header;
  asf.resize(30);  // a header object size of 0: an object walk cannot step over it
  asf.insert(asf.end(), properties.begin(), properties.end());
  asf.resize(70);
  const Bytes fileSize = test::Le(20 * 512 + 100, 8);
  asf.insert(asf.end(), fileSize.begin(), fileSize.end());
  ASSERT_EQ(ClassifySector(test::Sector(asf).data(), 512), code::kAsfPropertiesFirst);
  Bytes image(kSectors * 512);
  std::copy(asf.begin(), asf.end(), image.begin() + 300 * 512);
  EXPECT_EQ(ScanClaims(image), test::Span(300, 21));
}

}  // namespace
}  // namespace vellumark
