// Documents deleted from FAT volumes on which they had been written into
// the holes between files no carver recognises (text, HTML, source code,
// pictures without their first cluster): the plain rebuild stitches those
// files in, and the reassembly brings the documents back byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/fat_volume.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const fs::path kCorpus = fs::path(VELLUMARK_CORPUS_DIR) / "doc";

std::string Cli(const std::string& args) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " 2>/dev/null");
}

enum class Foreign { Text, Html, Code, Binary };

// A kept file of the given kind, size bytes long.
Bytes ForeignBytes(Foreign kind, std::size_t size, std::mt19937& random) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) {
    switch (kind) {
      case Foreign::Text: text += "Line " + std::to_string(i) + " of the minutes, item " + std::to_string(random() % 99) + "\n"; break;
      case Foreign::Html: text += "<p class=\"c" + std::to_string(i) + "\">Paragraph of the page</p>\n"; break;
      case Foreign::Code: text += "int step" + std::to_string(i) + "(int x) { return x * " + std::to_string(random() % 9) + "; }\n"; break;
      case Foreign::Binary: text += static_cast<char>(random() & 0xFF); break;
    }
  }
  text.resize(size);
  return Bytes(text.begin(), text.end());
}

// The document in pieces of the given cluster counts, each followed by a
// kept file of one of the foreign kinds; copied in, then deleted.
void WriteFragmented(test::FatVolume& volume, const fs::path& document, const std::vector<int>& pieces,
                     std::mt19937& random) {
  const std::size_t cluster = volume.clusterBytes();
  volume.WriteAround(document, "LOST.DOC", pieces, [&](std::size_t i) {
    const auto kind = static_cast<Foreign>(i % 4);
    const std::size_t size = (1 + random() % 3) * cluster - random() % (cluster / 2);
    return std::make_pair("K" + std::to_string(i) + ".DAT", ForeignBytes(kind, size, random));
  });
  volume.Delete("::LOST.DOC");
}

// A start sector in the seven base-36 digits of the rescued files' names.
std::string Base36(long long sector) {
  std::string digits(7, '0');
  for (int i = 6; i >= 0; --i, sector /= 36) digits[static_cast<std::size_t>(i)] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[sector % 36];
  return digits;
}

TEST(CliReassembly, DocumentsInPiecesAroundUnrecognisedFilesComeBackByteIdentical) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  struct Case {
    const char* document;
    int fatBits;
    int clusterSectors;
    int pieces;
  };
  const Case cases[] = {
      {"52420.doc", 32, 8, 2},                     // UTF-16 text
      {"47304.doc", 32, 8, 5},                     // 8-bit text, pieces of one cluster
      {"52420.doc", 32, 8, 8},                     // every cluster its own piece
      {"57843.doc", 32, 8, 2},                     // Word 6
      {"56880.doc", 32, 32, 2},                    // 16 KiB clusters
      {"52420.doc", 16, 8, 4},                     // FAT16
      {"Bug47742.doc", 32, 8, 3},                  // a paragraph formatting page holding all the runs it may
      {"Bug46610_3.doc", 32, 8, 4},                // two such pages
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.document) + " in " + std::to_string(c.pieces) + " pieces, FAT" +
                 std::to_string(c.fatBits) + ", " + std::to_string(c.clusterSectors) + " sectors a cluster");
    test::TempDir dir;
    test::FatVolume volume(dir, c.fatBits, c.clusterSectors);
    const Bytes original = test::ReadFileBytes((kCorpus / c.document).string());
    const int clusters = static_cast<int>((original.size() + volume.clusterBytes() - 1) / volume.clusterBytes());
    std::mt19937 random(static_cast<unsigned>(c.pieces));
    WriteFragmented(volume, kCorpus / c.document, test::SplitClusters(clusters, c.pieces), random);
    ASSERT_TRUE(volume.ok());
    fs::create_directory(dir / "out");

    EXPECT_EQ(Cli("rescue " + volume.image() + " " + (dir / "out") + " --last 40000"), "Rescued file 1\n");
    const auto rows = test::ReportRows(dir.path() / "out");
    ASSERT_EQ(rows.size(), 2u);
    // Pieces that hold none of the file's pinned bookkeeping sectors are
    // the document's own bytes here, but nothing shows that: they are
    // listed, each a whole number of clusters.
    const std::string& verdict = rows[1][2];
    EXPECT_TRUE(verdict == "whole" || verdict.starts_with("whole structure, ")) << verdict << " " << rows[1][3];
    EXPECT_EQ(verdict == "whole", rows[1][14].empty()) << rows[1][14];
    std::istringstream ranges(rows[1][14]);
    for (std::string range; ranges >> range;) {
      const std::size_t dash = range.find('-');
      const std::size_t first = std::stoul(range.substr(0, dash)), last = std::stoul(range.substr(dash + 1));
      EXPECT_LE(last, original.size() - 1) << range;
      EXPECT_EQ(first % volume.clusterBytes(), 0u) << range;
      EXPECT_TRUE((last + 1) % volume.clusterBytes() == 0 || last + 1 == original.size()) << range;
    }
    EXPECT_EQ(std::stoi(rows[1][9]), c.pieces);
    EXPECT_EQ(rows[1][12], "reassembled");
    EXPECT_TRUE(test::ReadFileBytes((dir.path() / "out" / rows[1][0]).string()) == original);
    EXPECT_TRUE(test::BytesOfRuns(volume.image(), rows[1][10], original.size()) == original);
  }
}

// A sector of the document's second piece cannot be read: what the
// reassembly makes of the rest must not be called whole. The sector is one
// that holds only zeros in the document (its 21st), so that zeros served in
// its place would pass every check of the content.
TEST(CliReassembly, AnUnreadableSectorIsNeverPartOfAWholeDocument) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("mshowfat");
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  test::TempDir dir;
  test::FatVolume volume(dir, 32, 8);
  const fs::path document = kCorpus / "52420.doc";
  const Bytes original = test::ReadFileBytes(document.string());
  const int clusters = static_cast<int>((original.size() + volume.clusterBytes() - 1) / volume.clusterBytes());
  std::mt19937 random(3);
  volume.WriteAround(document, "LOST.DOC", test::SplitClusters(clusters, 3), [&](std::size_t i) {
    return std::make_pair("K" + std::to_string(i) + ".TXT", ForeignBytes(Foreign::Text, 2 * volume.clusterBytes(), random));
  });
  const auto runs = volume.ClusterRuns("LOST.DOC");
  volume.Delete("::LOST.DOC");
  ASSERT_TRUE(volume.ok());
  ASSERT_GE(runs.size(), 2u);
  // The second piece starts at the document's 9th sector.
  const std::int64_t bad = volume.FirstSectorOf(runs[1].first) + 12;
  fs::create_directory(dir / "out");

  const std::string said = test::RunOutput(std::string("LD_PRELOAD=") + VELLUMARK_READ_FAULTS +
                                           " VELLUMARK_FAULT_FILE=" + volume.image() + " VELLUMARK_FAULT_UNREADABLE=" +
                                           std::to_string(bad * 512) +
                                           ":512 ASAN_OPTIONS=$ASAN_OPTIONS:verify_asan_link_order=0 LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI
                                           " rescue " + volume.image() + " " + (dir / "out") + " --last 40000 2>/dev/null");
  const auto rows = test::ReportRows(dir.path() / "out");
  for (std::size_t i = 1; i < rows.size(); ++i) {
    if (fs::path(rows[i][0]).extension() == ".TXT") continue;
    EXPECT_NE(rows[i][2], "whole") << rows[i][0] << ": " << said;
  }
}

// Two documents written cluster by cluster into alternate holes: each is
// the other's foreign data, and much of it looks alike. Either comes back
// byte for byte or is not called whole; never one holding the other's bytes.
TEST(CliReassembly, InterleavedDocumentsAreNeverMerged) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  const char* const pairs[][2] = {{"47304.doc", "52420.doc"}, {"56880.doc", "47304.doc"}};
  for (const auto& pair : pairs) {
    SCOPED_TRACE(std::string(pair[0]) + " with " + pair[1]);
    test::TempDir dir;
    test::FatVolume volume(dir, 32, 8);
    const Bytes a = test::ReadFileBytes((kCorpus / pair[0]).string());
    const Bytes b = test::ReadFileBytes((kCorpus / pair[1]).string());
    const std::size_t ca = (a.size() + 4095) / 4096, cb = (b.size() + 4095) / 4096;
    std::string holesA, holesB;
    for (std::size_t k = 0; k < std::max(ca, cb); ++k) {
      if (k < ca) volume.Add("A" + std::to_string(k), Bytes(4096, 0)), holesA += " ::A" + std::to_string(k);
      if (k < cb) volume.Add("B" + std::to_string(k), Bytes(4096, 0)), holesB += " ::B" + std::to_string(k);
    }
    volume.Delete(holesA);
    volume.ResetFreeHint();
    volume.Copy((kCorpus / pair[0]).string(), "FIRST.DOC");
    volume.Delete(holesB);
    volume.ResetFreeHint();
    volume.Copy((kCorpus / pair[1]).string(), "SECOND.DOC");
    volume.Delete("::FIRST.DOC ::SECOND.DOC");
    ASSERT_TRUE(volume.ok());
    fs::create_directory(dir / "out");
    Cli("rescue " + volume.image() + " " + (dir / "out") + " --last 40000");
    for (const auto& row : test::ReportRows(dir.path() / "out")) {
      if (row[2] != "whole") continue;
      const Bytes rescued = test::ReadFileBytes((dir.path() / "out" / row[0]).string());
      EXPECT_TRUE(rescued == a || rescued == b) << row[0] << " is called whole but is neither document";
    }
  }
}

// Words of text, whitespace runs as one blank: antiword lays lines out
// (indents, wraps, spaces tabs) in its own way.
std::string Collapsed(const std::string& text) {
  std::istringstream words(text);
  std::string collapsed, word;
  while (words >> word) collapsed += (collapsed.empty() ? "" : " ") + word;
  return collapsed;
}

// A document one of whose clusters another file overwrote after it was
// deleted, on a volume where it also lies in pieces around unrecognised
// files: no placement of its clusters holds together, so it cannot come
// back whole, but the text of the clusters that check can. Every line of
// that text must be found in the original's text as antiword reads it, in
// order; the overwritten cluster's text must be missing; and the text file
// is no rescued document.
TEST(CliReassembly, AnOverwrittenClusterLeavesTheTextOfTheOthers) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("antiword");
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("no document corpus at " << kCorpus);
  struct Case {
    const char* document;
    int overwritten;  // the document's cluster another file took
    int pieces;
  };
  const Case cases[] = {
      {"Bug52032_3.doc", 3, 3},  // 8-bit text
      {"Bug46610_3.doc", 2, 3},  // UTF-16 text
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.document) + ", cluster " + std::to_string(c.overwritten) + " overwritten");
    test::TempDir dir;
    test::FatVolume volume(dir, 32, 8);
    const fs::path original = kCorpus / c.document;
    Bytes damaged = test::ReadFileBytes(original.string());
    std::mt19937 random(7);
    const Bytes foreign = ForeignBytes(Foreign::Text, 4096, random);
    std::copy(foreign.begin(), foreign.end(), damaged.begin() + c.overwritten * 4096);
    test::WriteFileBytes(dir / "damaged.doc", damaged);
    const int clusters = static_cast<int>((damaged.size() + 4095) / 4096);
    WriteFragmented(volume, dir / "damaged.doc", test::SplitClusters(clusters, c.pieces), random);
    ASSERT_TRUE(volume.ok());
    fs::create_directory(dir / "out");

    const std::string said = Cli("rescue " + volume.image() + " " + (dir / "out") + " --last 40000");
    const auto rows = test::ReportRows(dir.path() / "out");
    int documents = 0, texts = 0;
    std::string text;
    for (std::size_t i = 1; i < rows.size(); ++i) {
      if (fs::path(rows[i][0]).extension() != ".TXT") {
        // A row without a name is a document found but not saved.
        documents += !rows[i][0].empty() && rows[i][2] != "unchecked" ? 1 : 0;
        EXPECT_NE(rows[i][2], "whole") << rows[i][0];
        continue;
      }
      ++texts;
      EXPECT_EQ(rows[i][2], "partial");
      EXPECT_EQ(rows[i][0].substr(0, 12), "TEST_" + Base36(std::stoll(rows[i][7])));
      const Bytes bytes = test::ReadFileBytes((dir.path() / "out" / rows[i][0]).string());
      text.assign(bytes.begin(), bytes.end());
    }
    ASSERT_EQ(texts, 1);
    EXPECT_EQ(said, "Rescued file " + std::to_string(documents) + "\n");

    const std::string reference = Collapsed(test::RunOutput("antiword -m UTF-8.txt -w 0 '" + original.string() + "'"));
    std::istringstream lines(text);
    std::string line;
    std::size_t at = 0, matched = 0;
    while (std::getline(lines, line)) {
      line = Collapsed(line);
      if (line.empty()) continue;
      const std::size_t found = reference.find(line, at);
      ASSERT_NE(found, std::string::npos) << "not in the original's text after offset " << at << ": " << line;
      at = found + line.size();
      matched += line.size();
    }
    EXPECT_GT(matched, reference.size() / 2);
    EXPECT_LT(matched, reference.size());
    EXPECT_EQ(text.find("of the minutes"), std::string::npos);
  }
}

}  // namespace
}  // namespace vellumark
