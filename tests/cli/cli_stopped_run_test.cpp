// vellumark-cli rescue stopped part-way by Ctrl-C, SIGTERM or SIGHUP: the
// run ends with its own status, says on standard error how far it came, and
// its report keeps every document it wrote; the source is never touched.
// The signal comes at a chosen point of the run (see the read-faults preload),
// so that where the run stops never depends on the machine's speed.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <regex>

#include "common/message_slots.h"
#include "rescue/percent_text.h"
#include "support/fixtures.h"
#include "texts/message_table.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

constexpr int kExitStopped = 4;
constexpr std::int64_t kMiB = std::int64_t{1} << 20;
// Two documents near the start of a 64 MiB image whose rest is empty.
constexpr std::int64_t kLowDocument = 64;      // its first sector
constexpr std::int64_t kHighDocument = 4096;
constexpr std::int64_t kImageBytes = 64 * kMiB;
constexpr std::int64_t kLastSector = kImageBytes / 512 - 1;

struct CliRun {
  int status = -1;
  std::string out;
  std::string err;
};

// The rescue of image into folder, with signal sent at the first mapping
// (the search's) or read (the carving's, since the search maps the image)
// that reaches past offset.
CliRun Rescue(const test::TempDir& dir, const std::string& image, const std::string& folder, int signal,
           const char* trigger, std::int64_t offset) {
  const std::string err = dir / "stderr.txt";
  CliRun run;
  run.out = test::RunOutput(std::string("LD_PRELOAD=") + VELLUMARK_READ_FAULTS + " VELLUMARK_FAULT_FILE=" + image +
                                " VELLUMARK_FAULT_SIGNAL=" + std::to_string(signal) + " " + trigger + "=" +
                                std::to_string(offset) + " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0" +
                                " LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " rescue " + image + " " + folder +
                                " </dev/null 2>" + err,
                            &run.status);
  const auto bytes = test::ReadFileBytes(err);
  run.err.assign(bytes.begin(), bytes.end());
  return run;
}

// The start sectors of the report's rows.
std::vector<std::int64_t> ReportedStarts(const std::string& folder) {
  const auto bytes = test::ReadFileBytes(folder + "/rescue-report.csv");
  const auto rows = test::ParseCsv(std::string(bytes.begin(), bytes.end()));
  std::vector<std::int64_t> starts;
  for (std::size_t i = 1; i < rows.size(); ++i) starts.push_back(std::stoll(rows[i][7]));
  return starts;
}

TEST(CliStoppedRun, SaysWhereItStoppedKeepsItsReportAndEndsWithItsOwnStatus) {
  const fs::path corpus = fs::path(VELLUMARK_CORPUS_DIR) / "doc";
  if (!fs::exists(corpus / "52117.doc")) VELLUMARK_CANNOT_RUN("no document corpus");
  test::TempDir dir;
  const std::string image = dir / "disk.img";
  auto bytes = test::PatternBytes(static_cast<std::size_t>(kLowDocument) * 512, 5);
  const auto low = test::ReadFileBytes((corpus / "52117.doc").string());
  const auto high = test::ReadFileBytes((corpus / "52420.doc").string());
  bytes.insert(bytes.end(), low.begin(), low.end());
  bytes.resize(static_cast<std::size_t>(kHighDocument) * 512, 0);
  bytes.insert(bytes.end(), high.begin(), high.end());
  test::WriteFileBytes(image, bytes);
  fs::resize_file(image, kImageBytes);
  const auto before = test::ReadFileBytes(image);

  // A whole run, for what a stopped one keeps of it.
  fs::create_directory(dir / "whole");
  int status = -1;
  EXPECT_EQ(test::RunOutput("LANG=C " VELLUMARK_CLI " rescue " + image + " " + (dir / "whole") + " 2>/dev/null",
                            &status),
            "Rescued file 2\n");
  ASSERT_EQ(status, 0);
  ASSERT_EQ(ReportedStarts(dir / "whole"), (std::vector<std::int64_t>{kHighDocument, kLowDocument}));

  const std::string cut = Text(Language::English, slot::kStoppedCarvingCut);
  const std::string carved = Text(Language::English, slot::kStoppedCarvingDone);
  enum class During { Search, Carving };
  const struct {
    int signal;
    During during;
    std::string message;             // the stop's text
    std::vector<std::int64_t> kept;  // the documents written and reported
  } cases[] = {
      // Ctrl-C in the search ends the search; what it found is carved.
      {SIGINT, During::Search, carved, {kHighDocument, kLowDocument}},
      // Being ended stops the search and the carving.
      {SIGTERM, During::Search, cut, {}},
      {SIGHUP, During::Search, cut, {}},
      // In the carving, every signal stops it after the document it carves.
      {SIGINT, During::Carving, cut, {kHighDocument}},
      {SIGTERM, During::Carving, cut, {kHighDocument}},
      {SIGHUP, During::Carving, cut, {kHighDocument}},
  };
  int number = 0;
  for (const auto& c : cases) {
    const bool inSearch = c.during == During::Search;
    SCOPED_TRACE(std::to_string(c.signal) + (inSearch ? " in the search" : " in the carving"));
    const std::string folder = dir / ("out" + std::to_string(++number));
    fs::create_directory(folder);
    // The search maps the image 4 MiB at a time, at most four blocks held:
    // the block from 20 MiB, the first mapping to reach past 20 MiB, takes
    // the place of the block from 4 MiB once the search has gone past 8 MiB.
    // The carving starts at the highest hit.
    const CliRun run = inSearch ? Rescue(dir, image, folder, c.signal, "VELLUMARK_FAULT_MAP_INTERRUPT", 20 * kMiB)
                             : Rescue(dir, image, folder, c.signal, "VELLUMARK_FAULT_INTERRUPT", kHighDocument * 512);
    EXPECT_EQ(run.status, kExitStopped) << run.err;
    EXPECT_EQ(run.out, "Rescued file " + std::to_string(c.kept.size()) + "\n");
    EXPECT_EQ(ReportedStarts(folder), c.kept);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(c.kept.size()) + 1);  // the documents and the report

    // The stop's text, then the share of the range searched and the sector.
    const std::size_t at = run.err.find(c.message);
    ASSERT_NE(at, std::string::npos) << run.err;
    const std::string said = run.err.substr(at + c.message.size(), run.err.find('\n', at) - at - c.message.size());
    std::smatch found;
    ASSERT_TRUE(std::regex_match(said, found, std::regex(R"(([0-9]+\.[0-9]{2}%), ([0-9]+))"))) << said;
    const std::int64_t sector = std::stoll(found[2].str());
    if (inSearch) {
      // Stopped in the block the search held when the signal came, or in
      // one mapped after it, at the latest the one whose mapping brought the
      // signal: it looks for signals every few hundred sectors and while it
      // waits for a block.
      EXPECT_GE(sector, 8 * kMiB / 512);
      EXPECT_LT(sector, 24 * kMiB / 512);
      EXPECT_EQ(found[1].str(), PercentText(kLastSector + 1, sector));
    } else {
      EXPECT_EQ(said, "100.00%, " + std::to_string(kLastSector));
    }
    EXPECT_NE(run.err.find("Report: " + folder + "/rescue-report.csv"), std::string::npos) << run.err;
  }
  EXPECT_TRUE(test::ReadFileBytes(image) == before);
}

}  // namespace
}  // namespace vellumark
