// Documents that the FAT and exFAT drivers wrote into the holes between
// live files, in many pieces, then deleted: the volume forgot their chains,
// but their directory entries keep the first cluster and the size, and the
// free clusters from the first one on are where the allocator put the rest.
// They come back byte-identical under their names; where the free clusters
// are not the document's (a file between its pieces deleted after it) no
// rebuild may pass for whole.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/fat_volume.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Row = test::NamedRow;
const fs::path kCorpus = fs::path(VELLUMARK_CORPUS_DIR);

std::string Cli(const std::string& args) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " 2>/dev/null");
}

Bytes TextBytes(std::size_t size, int seed) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += "Entry " + std::to_string(i) + " of the ledger, page " + std::to_string(seed) + "\n";
  text.resize(size);
  return Bytes(text.begin(), text.end());
}

struct FatCase {
  int fatBits;
  int clusterSectors;
  const char* document;  // under the corpus
  const char* types;
  int pieces;
};

class FreeClusterRebuild : public ::testing::TestWithParam<FatCase> {};

// The document in 20 pieces among live text files, then deleted; with
// stolen, one of the text files between its pieces is deleted after it, so
// that the free clusters from its first one on are no longer all its own.
// Returns the document's first sector.
std::int64_t WriteScattered(test::FatVolume& volume, const FatCase& c, bool stolen, const std::string& name,
                            const Bytes& original) {
  // The folder holds 80 other files first: the document's entry lies in
  // its second cluster, reached through the folder's FAT chain.
  volume.Mtools("mmd -i " + volume.image() + " ::Ablage");
  std::string others;
  for (int i = 0; i < 80; ++i) {
    const std::string other = "N" + std::to_string(i) + ".TXT";
    test::WriteFileBytes(volume.image() + "." + other, TextBytes(100, i));
    others += " " + volume.image() + "." + other;
  }
  volume.Mtools("mcopy -i " + volume.image() + others + " ::Ablage/");
  const int clusters = static_cast<int>((original.size() + volume.clusterBytes() - 1) / volume.clusterBytes());
  volume.WriteAround(kCorpus / c.document, "Ablage/" + name, test::SplitClusters(clusters, c.pieces), [&](std::size_t i) {
    return std::make_pair("K" + std::to_string(i) + ".TXT", TextBytes(volume.clusterBytes() + 200, static_cast<int>(i)));
  });
  const auto runs = volume.ClusterRuns("Ablage/" + name);
  EXPECT_EQ(runs.size(), static_cast<std::size_t>(c.pieces));
  volume.Delete("::Ablage/" + name);
  if (stolen) volume.Delete("::K3.TXT");
  return runs.empty() ? -1 : volume.FirstSectorOf(runs.front().first);
}

TEST_P(FreeClusterRebuild, DeletedDocumentInTwentyPiecesComesBackFromTheFreeClusters) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("mmd");
  VELLUMARK_REQUIRE_TOOL("mshowfat");
  const FatCase c = GetParam();
  if (!fs::exists(kCorpus / c.document)) VELLUMARK_CANNOT_RUN("no corpus document " << c.document);
  const Bytes original = test::ReadFileBytes((kCorpus / c.document).string());
  const std::string name = std::string("Bericht-in-Teilen") + fs::path(c.document).extension().string();
  for (const bool stolen : {false, true}) {
    SCOPED_TRACE(stolen ? "a file between its pieces deleted after it" : "its free clusters untouched");
    test::TempDir dir;
    test::FatVolume volume(dir, c.fatBits, c.clusterSectors);
    const std::int64_t first = WriteScattered(volume, c, stolen, name, original);
    ASSERT_TRUE(volume.ok());
    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    Cli("rescue " + volume.image() + " " + out.string() + " --types " + c.types + " --names original");
    const auto rows = test::NamedReportRows(out);
    const Row* row = test::RowWithOriginalName(rows, name);
    if (!stolen) {
      ASSERT_NE(row, nullptr);
      // The free clusters are a guess: as a reassembly's, a .doc's pieces
      // that hold none of its pinned bookkeeping are listed unverified,
      // though every byte is the document's; a .docx's CRCs vouch for all.
      const std::string& verdict = row->at("verdict");
      EXPECT_TRUE(verdict == "whole" || verdict.starts_with("whole structure, ")) << verdict;
      if (std::string(c.types) == "docx") {
        EXPECT_EQ(verdict, "whole");
      }
      EXPECT_EQ(row->at("rebuilt"), "reassembled");
      EXPECT_EQ(row->at("folder"), "Ablage");
      EXPECT_EQ(std::stoi(row->at("fragments")), c.pieces);
      EXPECT_TRUE(test::ReadFileBytes((out / "Ablage" / name).string()) == original);
      continue;
    }
    // Whatever was written from the document's first sector on, none of it
    // may be called whole unless it is the document (the stolen clusters
    // hold text, which no check of a .doc's text tells from its own).
    const std::string firstSector = std::to_string(first);
    // Nor may a guess the checks turned down be written under its name.
    for (const Row& any : rows) {
      if (any.at("original name") != name && any.at("start sector") != firstSector) continue;
      if (!any.at("verdict").starts_with("whole") && any.at("original name").empty()) continue;
      EXPECT_TRUE(test::ReadFileBytes((out / any.at("name")).string()) == original) << any.at("name") << " " << any.at("verdict");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, FreeClusterRebuild,
                         ::testing::Values(FatCase{32, 4, "doc/53446.doc", "doc", 20},
                                           FatCase{16, 4, "doc/53446.doc", "doc", 20},
                                           FatCase{32, 8, "ooxml/docx.1.docx", "docx", 20}),
                         [](const auto& info) {
                           return "Fat" + std::to_string(info.param.fatBits) + "_" +
                                  fs::path(info.param.document).extension().string().substr(1);
                         });

// exfat-fuse writes a document into the 8 KiB holes between live files
// (its entry then has no NoFatChain flag) and, deleting it, zeroes its
// chain and clears its bits in the allocation bitmap: the clusters still
// clear in the bitmap from its first one on are the rest of it.
TEST(FreeClusterRebuildExfat, DeletedDocumentInPiecesComesBackFromTheBitmapsFreeClusters) {
  VELLUMARK_REQUIRE_TOOL("mkfs.exfat");
  VELLUMARK_REQUIRE_TOOL("mount.exfat-fuse");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with exfat-fuse");
  for (const char* document : {"doc/53446.doc", "ooxml/pydocx-06.docx"}) {
    SCOPED_TRACE(document);
    if (!fs::exists(kCorpus / document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
    test::TempDir dir;
    const std::string image = dir / "exfat.img";
    const std::string name = std::string("Antrag in Teilen") + fs::path(document).extension().string();
    const std::string commands =
        "mkdir Ablage && i=0; while [ $i -lt 24 ]; do head -c 8192 /dev/zero > h$i; "
        "yes \"ledger line $i\" | head -c 4096 > k$i; i=$((i+1)); done; sync && rm h* && sync && cp " +
        (kCorpus / document).string() + " \"Ablage/" + name + "\" && sync && rm \"Ablage/" + name + "\"";
    ASSERT_EQ(test::WriteExfatVolume(image, commands), 0);
    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    Cli("rescue " + image + " " + out.string() + " --types doc,docx --names original");
    const auto rows = test::NamedReportRows(out);
    const Row* row = test::RowWithOriginalName(rows, name);
    ASSERT_NE(row, nullptr);
    const std::string& verdict = row->at("verdict");
    EXPECT_TRUE(verdict == "whole" || verdict.starts_with("whole structure, ")) << verdict;
    if (fs::path(document).extension() == ".docx") {
      EXPECT_EQ(verdict, "whole");
    }
    EXPECT_GE(std::stoi(row->at("fragments")), 4);
    EXPECT_TRUE(test::ReadFileBytes((out / "Ablage" / name).string()) == test::ReadFileBytes((kCorpus / document).string()));
  }
}

}  // namespace
}  // namespace vellumark
