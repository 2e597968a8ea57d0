// Documents that a FAT32 driver scattered in twenty pieces: written into
// the holes that deleting every other one of many small files left, then
// deleted themselves. Each must come back byte for byte in its own order
// (a compound file's clusters placed against its FAT's chains, an office
// package's members against its central directory), whatever lies between
// the pieces, and carry the name its deleted directory entry still holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "support/fat_volume.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const fs::path kCorpus(VELLUMARK_CORPUS_DIR);

std::string Cli(const std::string& args) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " 2>/dev/null");
}

enum class Between { Mixed, Random, Zeros, Documents };

// The small file kept after piece i: lines of text, HTML or code, random
// bytes, zeros, or a whole document of the corpus of the other kind.
std::pair<std::string, Bytes> KeptFile(Between between, std::size_t i, std::size_t cluster, std::mt19937& random) {
  const std::size_t size = (1 + random() % 3) * cluster - random() % (cluster / 2);
  const std::string name = "K" + std::to_string(i) + ".DAT";
  Bytes bytes;
  const auto lines = [&](auto line) {
    for (int n = 0; bytes.size() < size; ++n) {
      const std::string text = line(n);
      bytes.insert(bytes.end(), text.begin(), text.end());
    }
    bytes.resize(size);
  };
  const auto kind = between == Between::Mixed ? i % 4 : between == Between::Random ? 3 : 4;
  switch (between == Between::Documents ? 5 : kind) {
    case 0: lines([&](int n) { return "Line " + std::to_string(n) + " of the minutes, item " + std::to_string(random() % 99) + "\n"; }); break;
    case 1: lines([&](int n) { return "<p class=\"c" + std::to_string(n) + "\">Paragraph of the page</p>\n"; }); break;
    case 2: lines([&](int n) { return "int step" + std::to_string(n) + "(int x) { return x * " + std::to_string(random() % 9) + "; }\n"; }); break;
    case 3: for (std::size_t k = 0; k < size; ++k) bytes.push_back(static_cast<std::uint8_t>(random())); break;
    case 4: bytes.assign(size, 0); break;
    default: {
      const char* others[] = {"ooxml/Bug46817.docx", "ooxml/57843.docx", "ooxml/two_images.docx", "ooxml/equation.docx"};
      return {"K" + std::to_string(i) + ".DOCX", test::ReadFileBytes((kCorpus / others[i % 4]).string())};
    }
  }
  return {name, bytes};
}

// The bytes a rescue can give back of a compound file: up to the last
// sector its FAT has in use (a writer may leave free sectors after it).
// Every document used here ends there; the others are whole archives.
const std::vector<std::string>* RowRescuing(const std::vector<std::vector<std::string>>& rows, const fs::path& out,
                                            const Bytes& original) {
  for (std::size_t r = 1; r < rows.size(); ++r) {
    if (!rows[r][0].empty() && test::ReadFileBytes((out / rows[r][0]).string()) == original) return &rows[r];
  }
  return nullptr;
}

TEST(CliManyPieces, TwentyPieceDocumentsComeBackByteIdenticalUnderTheirNames) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  struct Case {
    const char* document;
    const char* name;  // a long name, kept by the deleted entry's long-name slots
    int clusterSectors;
    Between between;
  };
  // The .docx of the corpus are small: 512-byte clusters let them lie in twenty pieces.
  const Case cases[] = {
      {"doc/o_kurs.doc", "Quarterly_Report_Kurs.doc", 8, Between::Mixed},
      {"doc/o_kurs.doc", "Quarterly_Report_Kurs.doc", 8, Between::Zeros},
      {"doc/64132.doc", "Minutes_Of_The_Board.doc", 8, Between::Zeros},
      {"doc/64132.doc", "Minutes_Of_The_Board.doc", 8, Between::Documents},
      {"ooxml/pydocx-04.docx", "Annual_Letter_Draft.docx", 1, Between::Mixed},
      {"ooxml/pydocx-04.docx", "Annual_Letter_Draft.docx", 1, Between::Zeros},
      {"ooxml/pydocx-01.docx", "Letter_To_The_Tenants.docx", 1, Between::Random},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.document) + " between kind " + std::to_string(static_cast<int>(c.between)) + ", " +
                 std::to_string(c.clusterSectors) + " sectors a cluster");
    test::TempDir dir;
    test::FatVolume volume(dir, 32, c.clusterSectors);
    const fs::path document = kCorpus / c.document;
    const Bytes original = test::ReadFileBytes(document.string());
    const int clusters = static_cast<int>((original.size() + volume.clusterBytes() - 1) / volume.clusterBytes());
    std::mt19937 random(20);
    volume.WriteAround(document, c.name, test::SplitClusters(clusters, 20),
                       [&](std::size_t i) { return KeptFile(c.between, i, volume.clusterBytes(), random); });
    volume.Delete(std::string("::") + c.name);
    ASSERT_TRUE(volume.ok());
    // The driver put the document in twenty pieces.
    fs::create_directory(dir / "out");

    Cli("rescue " + volume.image() + " " + (dir / "out") + " --last 40000");
    const auto rows = test::ReportRows(dir.path() / "out");
    const auto* row = RowRescuing(rows, dir.path() / "out", original);
    ASSERT_NE(row, nullptr) << "no rescued file is the document";
    // Whole documents between the pieces are carved first; the plain rebuild
    // then steps over their sectors.
    if (c.between != Between::Documents) {
      EXPECT_EQ((*row)[12], "reassembled");
    }
    EXPECT_EQ(std::stoi((*row)[9]), 20);
    EXPECT_TRUE((*row)[2].starts_with("whole")) << (*row)[2];
    EXPECT_EQ((*row)[15], c.name);
    EXPECT_TRUE(test::BytesOfRuns(volume.image(), (*row)[10], original.size()) == original);
  }
}

}  // namespace
}  // namespace vellumark

namespace vellumark {
namespace {

// The longest stretch of free clusters the volume's $Bitmap shows (the
// bits past its last cluster included; they are few and do no harm here).
std::size_t LongestFreeStretch(const std::string& image) {
  const std::string bitmap = test::RunOutput("ntfscat " + image + " '$Bitmap' 2>/dev/null");
  std::size_t longest = 0, current = 0;
  for (const char byte : bitmap) {
    for (int bit = 0; bit < 8; ++bit) {
      current = (static_cast<unsigned char>(byte) >> bit & 1) ? 0 : current + 1;
      longest = std::max(longest, current);
    }
  }
  return longest;
}

// The number of data runs the record of the file at path holds.
int RunsOf(const std::string& image, const std::string& path) {
  const std::string info = test::RunOutput("ntfsinfo -v -F '" + path + "' " + image + " 2>/dev/null");
  std::smatch match;
  return std::regex_search(info, match, std::regex("Total runs: ([0-9]+)")) ? std::stoi(match[1]) : -1;
}

// A .doc and a .docx that ntfs-3g itself scattered in twenty pieces and
// more over a volume of 512-byte clusters, then deleted: each comes back
// byte for byte, in its order, from the data runs its record still lists,
// under its name. The pieces lie among kept files of text that share no
// structure with the documents, so only the runs can order them.
TEST(CliManyPieces, TwentyPieceDocumentsOnNtfsComeBackFromTheirRunsUnderTheirNames) {
  VELLUMARK_REQUIRE_TOOL("mkntfs");
  VELLUMARK_REQUIRE_TOOL("ntfs-3g");
  VELLUMARK_REQUIRE_TOOL("ntfscat");
  VELLUMARK_REQUIRE_TOOL("ntfsinfo");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with ntfs-3g");
  const std::pair<std::string, fs::path> documents[] = {{"Sitzung.doc", kCorpus / "doc/53446.doc"},
                                                        {"Antrag.docx", kCorpus / "ooxml/pydocx-06.docx"}};
  for (const auto& [name, document] : documents) {
    if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  }
  test::TempDir dir;
  const std::string image = dir / "ntfs.img";
  const std::string mount = dir / "mnt";
  fs::create_directory(mount);
  ASSERT_EQ(test::Run("truncate -s 8M " + image + " && mkntfs -q -F -Q -c 512 " + image + " >/dev/null 2>&1"), 0);
  ASSERT_EQ(test::Run("ntfs-3g " + image + " " + mount), 0);
  // Every file is made empty first, so that the MFT has grown to hold them
  // all before any data is written and no later record lands between the
  // pieces. Then kept files of three clusters fill the volume, and every
  // other one is emptied (not deleted, so the folder's index keeps its
  // blocks): the free space is three-cluster holes.
  const int filled = test::Run(
      "sh -c 'cd " + mount + " && mkdir Ablage && touch Ablage/Sitzung.doc Ablage/Antrag.docx && "
      "i=0; while [ $i -lt 3200 ]; do : > k$i.txt; i=$((i+1)); done; sync; "
      "i=0; while [ $i -lt 3200 ]; do yes \"minutes of meeting $i\" | head -c 1100 > k$i.txt 2>/dev/null || break; "
      "i=$((i+1)); done; sync; i=0; while [ $i -lt 3200 ]; do truncate -s 0 k$i.txt; i=$((i+2)); done; sync'");
  ASSERT_EQ(test::Run("umount " + mount), 0);
  ASSERT_EQ(filled, 0);
  // Besides the holes one larger stretch stays free (the fill stopped short
  // of it); ntfs-3g takes the longest free stretch first, so one kept file
  // fills it. The documents are then written a sector at a time: each
  // write asks the driver for one cluster, which it takes from the next hole.
  const std::size_t stretch = LongestFreeStretch(image);
  ASSERT_GT(stretch, 3u);
  ASSERT_EQ(test::Run("ntfs-3g " + image + " " + mount), 0);
  int written = test::Run("head -c " + std::to_string(stretch * 512) + " /dev/zero > " + mount + "/plug.bin");
  for (const auto& [name, document] : documents) {
    written |= test::Run("dd if=" + document.string() + " of='" + mount + "/Ablage/" + name +
                         "' bs=512 status=none");
  }
  written |= test::Run("sync");
  ASSERT_EQ(test::Run("umount " + mount), 0);
  ASSERT_EQ(written, 0);
  std::map<std::string, int> runs;
  for (const auto& [name, document] : documents) {
    runs[name] = RunsOf(image, "/Ablage/" + name);
    EXPECT_GE(runs[name], 20) << name << " should lie in twenty pieces or more";
    RecordProperty("runs of " + name, runs[name]);
  }
  ASSERT_EQ(test::Run("ntfs-3g " + image + " " + mount), 0);
  const int deleted = test::Run("rm '" + mount + "/Ablage/Sitzung.doc' '" + mount + "/Ablage/Antrag.docx' && sync");
  ASSERT_EQ(test::Run("umount " + mount), 0);
  ASSERT_EQ(deleted, 0);

  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  Cli("rescue " + image + " " + out.string() + " --types doc,docx --names original");
  const auto rows = test::NamedReportRows(out);
  for (const auto& [name, document] : documents) {
    SCOPED_TRACE(name + " in " + std::to_string(runs[name]) + " runs");
    const auto* row = test::RowWithOriginalName(rows, name);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->at("folder"), "Ablage");
    EXPECT_EQ(row->at("name"), "Ablage/" + name);
    EXPECT_EQ(row->at("verdict"), "whole");
    // No two holes touch, so each run is a piece of its own.
    EXPECT_EQ(std::stoi(row->at("fragments")), runs[name]);
    const Bytes original = test::ReadFileBytes(document.string());
    EXPECT_TRUE(test::ReadFileBytes((out / "Ablage" / name).string()) == original);
    EXPECT_TRUE(test::BytesOfRuns(image, row->at("sector runs"), original.size()) == original);
  }
}

}  // namespace
}  // namespace vellumark
