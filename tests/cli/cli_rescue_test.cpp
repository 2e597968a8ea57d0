// vellumark-cli rescue end to end: real documents copied onto a real FAT32
// volume with mtools, deleted, and brought back.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

std::string Cli(const std::string& args, int* status) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args, status);
}

// The report beside the rescued files has a row for each of them, and its
// sector runs rebuild each one, byte for byte, from the source image.
void ExpectReportMatchesFolder(const std::string& image, const fs::path& folder, std::size_t documents,
                               std::size_t fragments) {
  const auto rows = test::ReportRows(folder);
  ASSERT_EQ(rows.size(), documents + 1);
  EXPECT_EQ(rows[0][0], "name");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    const auto& row = rows[i];  // name kind verdict fault title author saved start length fragments runs sha256 rebuilt
    SCOPED_TRACE(row[0]);
    const auto file = test::ReadFileBytes((folder / row[0]).string());
    EXPECT_EQ(std::vector(row.begin() + 1, row.begin() + 4), (std::vector<std::string>{"Word", "whole", ""}));
    EXPECT_EQ(std::stoull(row[8]), file.size());
    EXPECT_EQ(std::stoull(row[9]), fragments);
    EXPECT_TRUE(test::BytesOfRuns(image, row[10], file.size()) == file);
    EXPECT_EQ(test::RunOutput("sha256sum " + (folder / row[0]).string()).substr(0, 64), row[11]);
    EXPECT_EQ(row[12], "") << "a document the plain rebuild brings back is never reassembled";
  }
}

// Documents whose files end exactly where their FAT says.
const char* const kDocuments[] = {"47304.doc", "52117.doc", "52420.doc", "53379.doc",
                                  "56880.doc", "57843.doc", "large-difat-libreoffice.doc"};

TEST(CliRescue, DeletedDocumentsComeBackByteIdentical) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  const fs::path corpus = fs::path(VELLUMARK_CORPUS_DIR) / "doc";
  if (!fs::is_directory(corpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << corpus);

  test::TempDir dir;
  const std::string img = dir / "fat32.img";
  std::string copy = "mkfs.vfat -C -F 32 -s 8 " + img + " 300000 >/dev/null 2>&1";
  std::string remove = "MTOOLS_SKIP_CHECK=1 mdel -i " + img;
  for (const char* name : kDocuments) {
    copy += " && MTOOLS_SKIP_CHECK=1 mcopy -i " + img + " " + (corpus / name).string() + " ::" + name;
    remove += std::string(" ::") + name;
  }
  ASSERT_EQ(test::Run(copy + " && " + remove), 0);
  fs::create_directory(dir / "out");

  int status = -1;
  const std::string out = Cli("rescue " + img + " " + (dir / "out") + " 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "Rescued file " + std::to_string(std::size(kDocuments)) + "\n");

  std::vector<std::vector<std::uint8_t>> rescued;
  for (const auto& entry : fs::directory_iterator(dir.path() / "out")) {
    if (entry.path().filename() == "rescue-report.csv") continue;
    EXPECT_EQ(entry.path().filename().string().substr(0, 5), "TEST_");
    EXPECT_EQ(entry.path().extension(), ".DOC");
    rescued.push_back(test::ReadFileBytes(entry.path().string()));
  }
  for (const char* name : kDocuments) {
    const auto original = test::ReadFileBytes((corpus / name).string());
    EXPECT_NE(std::find(rescued.begin(), rescued.end(), original), rescued.end()) << name << " not rescued whole";
  }
  ExpectReportMatchesFolder(img, dir.path() / "out", std::size(kDocuments), 1);
}

TEST(CliRescue, RefusalsAndUnopenableSources) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "disk.img", std::vector<std::uint8_t>(64 * 512, 0));
  struct Case {
    std::string args;
    std::string error;
    int status;
  };
  const Case cases[] = {
      {"rescue " + (dir / "disk.img") + " " + (dir / "missing"),
       "Please select folder to save file! " + (dir / "missing") + ": No such file or directory\n", 2},
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --first 10 --last 5",
       "invalid sector range! --first 10 --last 5: " + (dir / "disk.img") + " has sectors 0 to 63\n", 2},
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --last 64",
       "invalid sector range! --first 0 --last 64: " + (dir / "disk.img") + " has sectors 0 to 63\n", 2},
      {"rescue " + (dir / "missing.img") + " " + dir.path().string(),
       "Failed to open file! " + (dir / "missing.img") + ": No such file or directory\n", 1},
      // Asked for by name, the boot sector's layout is refused where there is none.
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --reason deleted",
       "Unknown file system, not support this option! --reason deleted: " + (dir / "disk.img") +
           " has no FAT, FAT32 or NTFS boot sector; use --reason formatted or repartitioned\n", 2},
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --report " + (dir / "missing/r.csv"),
       "vellumark-cli rescue: --report " + (dir / "missing/r.csv") + ": no folder for the report " +
           (dir / "missing") + ": No such file or directory\n", 2},
  };
  for (const Case& c : cases) {
    int status = -1;
    const std::string err = Cli(c.args + " 2>&1 >/dev/null", &status);
    EXPECT_EQ(err.substr(0, c.error.size()), c.error) << c.args;
    EXPECT_EQ(status, c.status) << c.args;
  }
  // Nothing was written by any refused run.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  int status = -1;
  EXPECT_EQ(Cli("rescue " + (dir / "disk.img") + " " + dir.path().string() + " --last 63 2>/dev/null", &status),
            "Rescued file 0\n");
  EXPECT_EQ(status, 0);
  // An empty run still leaves a report, here where --report puts it.
  Cli("rescue " + (dir / "disk.img") + " " + dir.path().string() + " --report " + (dir / "r.csv") + " 2>/dev/null",
      &status);
  EXPECT_EQ(test::ParseCsv(test::RunOutput("cat " + (dir / "r.csv"))).size(), 1u);
  Cli("rescue " + (dir / "disk.img") + " " + dir.path().string() + " --types pdf 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
}

// Without --reason the command line takes the reason the window selects on
// opening: an ext4 volume has no boot sector the program knows, so the whole
// volume is searched sector by sector and every deleted document comes back;
// --reason deleted, which would trust a boot sector, is refused. The
// documents have no all-zero 4 KiB block, so that mkfs.ext4 lays each out
// in one run rather than with holes.
TEST(CliRescue, Ext4VolumeIsRescuedWithTheReasonTheWindowSelects) {
  VELLUMARK_REQUIRE_TOOL("mkfs.ext4");
  VELLUMARK_REQUIRE_TOOL("debugfs");
  const fs::path corpus = fs::path(VELLUMARK_CORPUS_DIR) / "doc";
  if (!fs::is_directory(corpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << corpus);
  const char* const documents[] = {"20-Force-on-a-current-S00.doc", "47304.doc", "52117.doc", "52420.doc",
                                   "53379.doc", "53446.doc", "56880.doc", "57843.doc"};
  test::TempDir dir;
  fs::create_directory(dir / "files");
  std::string remove;
  for (const char* name : documents) {
    fs::copy_file(corpus / name, dir.path() / "files" / name);
    remove += " && debugfs -w -R 'rm " + std::string(name) + "' " + (dir / "ext4.img") + " >/dev/null 2>&1";
  }
  ASSERT_EQ(test::Run("truncate -s 32M " + (dir / "ext4.img") + " && mkfs.ext4 -F -q -b 4096 -d " + (dir / "files") +
                      " " + (dir / "ext4.img") + " >/dev/null 2>&1" + remove),
            0);
  fs::create_directory(dir / "out");

  int status = -1;
  Cli("rescue " + (dir / "ext4.img") + " " + (dir / "out") + " --reason deleted 2>/dev/null", &status);
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(fs::is_empty(dir / "out"));

  EXPECT_EQ(Cli("rescue " + (dir / "ext4.img") + " " + (dir / "out") + " 2>/dev/null", &status),
            "Rescued file " + std::to_string(std::size(documents)) + "\n");
  EXPECT_EQ(status, 0);
  std::vector<std::vector<std::uint8_t>> rescued;
  for (const auto& entry : fs::directory_iterator(dir / "out")) rescued.push_back(test::ReadFileBytes(entry.path()));
  for (const char* name : documents) {
    const auto original = test::ReadFileBytes((corpus / name).string());
    EXPECT_NE(std::find(rescued.begin(), rescued.end(), original), rescued.end()) << name << " not rescued whole";
  }
}

// The system's cache reads a disk a page (4 KiB) at a time, and fails the
// whole page for one bad sector in it; the bad sector alone is lost, its
// page's other sectors read past the cache. Here the preload fails reads the
// way the cache does; the search maps the image and never sees the fault,
// the carving of the document meets it.
TEST(CliRescue, ABadSectorCostsOnlyItselfNotItsPage) {
  const fs::path document = fs::path(VELLUMARK_CORPUS_DIR) / "doc" / "47304.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no document corpus");
  test::TempDir dir;
  if (test::Run("dd if=/dev/zero of=" + (dir / "probe") + " bs=4096 count=1 status=none && dd if=" + (dir / "probe") +
                " of=/dev/null bs=512 count=1 iflag=direct status=none") != 0)
    VELLUMARK_CANNOT_RUN("the temporary folder's file system takes no uncached reads: " << dir.path());
  constexpr std::int64_t kStart = 96;        // on a page: sectors 96 to 103 share one
  constexpr std::int64_t kBad = kStart + 13;  // in the page of sectors 104 to 111
  auto image = test::PatternBytes(kStart * 512, 4);
  const auto doc = test::ReadFileBytes(document.string());
  image.insert(image.end(), doc.begin(), doc.end());
  image.resize(image.size() + 64 * 512, 0);
  test::WriteFileBytes(dir / "disk.img", image);
  fs::create_directory(dir / "out");
  int status = -1;
  const std::string printed = test::RunOutput(
      std::string("LD_PRELOAD=") + VELLUMARK_READ_FAULTS + " VELLUMARK_FAULT_FILE=" + (dir / "disk.img") +
          " VELLUMARK_FAULT_UNREADABLE=" + std::to_string(kBad * 512) + ":512 VELLUMARK_FAULT_PAGE=4096" +
          " ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 LANG=C " VELLUMARK_CLI " rescue " + (dir / "disk.img") +
          " " + (dir / "out") + " 2>&1",
      &status);
  EXPECT_EQ(status, 3) << printed;
  EXPECT_NE(printed.find("Sectors that could not be read: 1: " + std::to_string(kBad) + "\n"), std::string::npos)
      << printed;
  const auto csv = test::ReadFileBytes(dir / "out/rescue-report.csv");
  const auto rows = test::ParseCsv(std::string(csv.begin(), csv.end()));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][3], "1 unreadable sectors, written as zeros");
  auto expected = doc;
  std::fill_n(expected.begin() + (kBad - kStart) * 512, 512, 0);
  EXPECT_TRUE(test::ReadFileBytes((dir.path() / "out" / rows[1][0]).string()) == expected);
}

}  // namespace
}  // namespace vellumark

namespace vellumark {
namespace {

// A document whose sectors lie on both sides of a picture, a sound, a video or
// an archive comes back whole only if that file's sectors were recognised
// and claimed first.
TEST(CliRescue, DocumentFragmentedAroundOtherFilesComesBackWhole) {
  for (const char* tool : {"convert", "sox", "ffmpeg", "zip", "7z"}) {
    if (!test::HaveTool(tool)) VELLUMARK_CANNOT_RUN("needs " << tool);
  }
  const fs::path document = fs::path(VELLUMARK_CORPUS_DIR) / "doc" / "52420.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no document corpus");
  test::TempDir dir;
  const std::string d = dir.path().string() + "/";
  test::WriteFileBytes(d + "payload.bin", test::PatternBytes(20000, 7));
  ASSERT_EQ(test::Run("cd " + d + " && /usr/bin/convert -size 200x150 -seed 1 plasma:fractal a.jpg"
                      " && /usr/bin/convert -size 200x150 gradient: -strip png24:a.png"
                      " && sox -n -r 8000 -c 1 a.wav synth 1 sine 440"
                      " && zip -q -X a.zip payload.bin"
                      " && 7z a -bd a.7z payload.bin >/dev/null"
                      " && printf '\\003' | dd of=a.7z bs=1 seek=7 conv=notrunc status=none"  // format 0.3
                      " && ffmpeg -loglevel error -f lavfi -i testsrc=duration=1:size=96x64:rate=10 -c:v mpeg4 a.mp4"),
            0);
  const auto doc = test::ReadFileBytes(document.string());
  auto image = test::PatternBytes(16 * 512, 5);
  for (const char* name : {"a.jpg", "a.png", "a.wav", "a.zip", "a.7z", "a.mp4"}) {
    auto other = test::ReadFileBytes(d + name);
    other.resize((other.size() + 511) / 512 * 512, 0);
    image.insert(image.end(), doc.begin(), doc.begin() + 4 * 512);
    image.insert(image.end(), other.begin(), other.end());
    image.insert(image.end(), doc.begin() + 4 * 512, doc.end());
    const auto gap = test::PatternBytes(8 * 512, static_cast<std::uint32_t>(image.size()));
    image.insert(image.end(), gap.begin(), gap.end());
  }
  test::WriteFileBytes(d + "disk.img", image);
  fs::create_directory(d + "out");
  int status = -1;
  EXPECT_EQ(Cli("rescue " + d + "disk.img " + d + "out 2>/dev/null", &status), "Rescued file 6\n");
  for (const auto& entry : fs::directory_iterator(d + "out")) {
    if (entry.path().extension() != ".DOC") continue;
    EXPECT_TRUE(test::ReadFileBytes(entry.path().string()) == doc) << entry.path() << " is not the document";
  }
  ExpectReportMatchesFolder(d + "disk.img", d + "out", 6, 2);
}

// A sector of something else where the document's main stream begins, as
// when the disk reused it: the document is still written, and the report
// says it is damaged and where.
TEST(CliRescue, ReportNamesTheStreamAForeignSectorBroke) {
  const fs::path document = fs::path(VELLUMARK_CORPUS_DIR) / "doc" / "52420.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no document corpus");
  test::TempDir dir;
  auto image = test::PatternBytes(8 * 512, 3);
  const auto doc = test::ReadFileBytes(document.string());
  image.insert(image.end(), doc.begin(), doc.end());
  const auto foreign = test::PatternBytes(512, 99);
  std::copy(foreign.begin(), foreign.end(), image.begin() + 9 * 512);  // WordDocument's first sector
  image.resize(image.size() + 8 * 512, 0);
  test::WriteFileBytes(dir / "disk.img", image);
  fs::create_directory(dir / "out");
  EXPECT_EQ(Cli("rescue " + (dir / "disk.img") + " " + (dir / "out") + " 2>/dev/null", nullptr), "Rescued file 1\n");
  const auto csv = test::ReadFileBytes(dir / "out/rescue-report.csv");
  const auto rows = test::ParseCsv(std::string(csv.begin(), csv.end()));
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][2], "damaged");
  EXPECT_TRUE(rows[1][3].starts_with("WordDocument")) << rows[1][3];
  EXPECT_EQ(rows[1][4], "Міністэрства адукацыі Рэспублікі Беларусь");  // its title survives
}

}  // namespace
}  // namespace vellumark

namespace vellumark {
namespace {

// Office documents in ZIP form, deleted from a FAT volume: those written
// in one piece, and one written into the holes left between kept text files.
TEST(CliRescue, DeletedOfficeDocumentsComeBackWholeAlsoInPieces) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  const fs::path corpus = fs::path(VELLUMARK_CORPUS_DIR) / "ooxml";
  if (!fs::is_directory(corpus)) VELLUMARK_CANNOT_RUN("no office corpus at " << corpus);
  test::TempDir dir;
  const std::string img = dir / "fat32.img", m = "MTOOLS_SKIP_CHECK=1 ";
  const char* const whole[] = {"docx.docx", "57843.docx", "pydocx-02.docx", "xlsx.xlsx", "pptx.pptx", "Bug44292.odt"};
  // FAT16: mtools then looks for free clusters from the start, as a
  // system whose next-free hint is lost would, and fills the holes.
  std::string make = "mkfs.vfat -C -F 16 -s 8 " + img + " 60000 >/dev/null 2>&1";
  for (const char* name : whole) make += " && " + m + "mcopy -i " + img + " " + (corpus / name).string() + " ::" + name;
  // Log files of 16 KiB, every other one deleted: the next document fills the holes.
  std::string log;
  for (int i = 0; i < 300; ++i) log += "2026-12-07 12:00:" + std::to_string(10 + i % 50) + " INFO request served\n";
  test::WriteFileBytes(dir / "log.txt", std::vector<std::uint8_t>(log.begin(), log.begin() + 16384));
  for (int i = 0; i < 8; ++i) make += " && " + m + "mcopy -i " + img + " " + (dir / "log.txt") + " ::LOG" + std::to_string(i);
  for (int i = 1; i < 8; i += 2) make += " && " + m + "mdel -i " + img + " ::LOG" + std::to_string(i);
  make += " && " + m + "mcopy -i " + img + " " + (corpus / "pydocx-07.docx").string() + " ::PIECES.DOCX";
  for (const char* name : whole) make += " && " + m + "mdel -i " + img + " ::" + name;
  make += " && " + m + "mdel -i " + img + " ::PIECES.DOCX";
  ASSERT_EQ(test::Run(make), 0);
  fs::create_directory(dir / "out");

  int status = -1;
  const std::string out = Cli("rescue " + img + " " + (dir / "out") + " --types docx,xlsx,pptx,odt 2>/dev/null", &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "Rescued file 7\n");
  std::vector<std::vector<std::uint8_t>> rescued;
  for (const auto& entry : fs::directory_iterator(dir.path() / "out")) rescued.push_back(test::ReadFileBytes(entry.path().string()));
  for (const char* name : {"docx.docx", "57843.docx", "pydocx-02.docx", "xlsx.xlsx", "pptx.pptx", "Bug44292.odt",
                           "pydocx-07.docx"}) {
    const auto original = test::ReadFileBytes((corpus / name).string());
    EXPECT_NE(std::find(rescued.begin(), rescued.end(), original), rescued.end()) << name << " not rescued whole";
  }
  // The report lists them with their kinds, whole; the one in pieces with its runs.
  const auto report = test::ReadFileBytes((dir / "out/rescue-report.csv"));
  const auto rows = test::ParseCsv(std::string(report.begin(), report.end()));
  ASSERT_EQ(rows.size(), 8u);
  int pieces = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i][2], "whole") << rows[i][0] << " " << rows[i][3];
    pieces = std::max(pieces, std::stoi(rows[i][9]));
  }
  EXPECT_GE(pieces, 3);  // 36 KiB through holes of 16 KiB
}

}  // namespace
}  // namespace vellumark
