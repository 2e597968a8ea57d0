// Documents that a FAT32 driver scattered in twenty pieces: written into
// the holes that deleting every other one of many small files left, then
// deleted themselves. Each must come back byte for byte in its own order
// (a compound file's clusters placed against its FAT's chains, an office
// package's members against its central directory), whatever lies between
// the pieces, and carry the name its deleted directory entry still holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
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
