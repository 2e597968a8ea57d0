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
  const auto bytes = test::ReadFileBytes((folder / "rescue-report.csv").string());
  const auto rows = test::ParseCsv(std::string(bytes.begin(), bytes.end()));
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
  if (!fs::is_directory(corpus)) GTEST_SKIP() << "no document corpus at " << corpus;

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
      {"rescue " + (dir / "disk.img") + " " + (dir / "missing"), "Please select folder to save file!\n", 2},
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --first 10 --last 5", "invalid sector range!\n", 2},
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --last 64", "invalid sector range!\n", 2},
      {"rescue " + (dir / "missing.img") + " " + dir.path().string(), "Failed to open file!\n", 1},
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --reason deleted",
       "Unknown file system, not support this option!\n", 0},
      {"rescue " + (dir / "disk.img") + " " + dir.path().string() + " --report " + (dir / "missing/r.csv"),
       "vellumark-cli rescue: no folder for the report", 2},
  };
  for (const Case& c : cases) {
    int status = -1;
    const std::string err = Cli(c.args + " 2>&1 >/dev/null", &status);
    EXPECT_EQ(err.substr(0, c.error.size()), c.error) << c.args;
    EXPECT_EQ(status, c.status) << c.args;
  }
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

}  // namespace
}  // namespace vellumark

namespace vellumark {
namespace {

// A document whose sectors lie on both sides of a picture, a sound, a video or
// an archive comes back whole only if that file's sectors were recognised
// and claimed first.
TEST(CliRescue, DocumentFragmentedAroundOtherFilesComesBackWhole) {
  for (const char* tool : {"convert", "sox", "ffmpeg", "zip", "7z"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << "needs " << tool;
  }
  const fs::path document = fs::path(VELLUMARK_CORPUS_DIR) / "doc" / "52420.doc";
  if (!fs::exists(document)) GTEST_SKIP() << "no document corpus";
  test::TempDir dir;
  const std::string d = dir.path().string() + "/";
  ASSERT_EQ(test::Run("cd " + d + " && head -c 20000 /dev/urandom > payload.bin"
                      " && /usr/bin/convert -size 200x150 plasma:fractal a.jpg"
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
  if (!fs::exists(document)) GTEST_SKIP() << "no document corpus";
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
