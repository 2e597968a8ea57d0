// Documents deleted from volumes that real drivers wrote (FAT32 through
// mtools, NTFS through ntfs-3g, both on one GPT disk) come back with what
// the volumes' own records still say of them: their names, folders and
// times in the report and, with --names original, as the written file's
// name and folder. Each partition's documents are carved on its own grid.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <map>
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
const fs::path kCorpus = fs::path(VELLUMARK_CORPUS_DIR) / "doc";

std::string Cli(const std::string& args) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " 2>/dev/null");
}

Bytes TextBytes(std::size_t size, int seed) {
  std::string text;
  for (int i = 0; text.size() < size; ++i) text += "Line " + std::to_string(i) + " of the minutes, item " + std::to_string(seed) + "\n";
  text.resize(size);
  return Bytes(text.begin(), text.end());
}

// The report's rows as maps from the heading's names.
std::vector<std::map<std::string, std::string>> Rows(const fs::path& folder) {
  const auto rows = test::ReportRows(folder);
  std::vector<std::map<std::string, std::string>> named;
  for (std::size_t r = 1; r < rows.size(); ++r) {
    std::map<std::string, std::string> row;
    for (std::size_t c = 0; c < rows[0].size() && c < rows[r].size(); ++c) row[rows[0][c]] = rows[r][c];
    named.push_back(row);
  }
  return named;
}

const std::map<std::string, std::string>* RowNamed(const std::vector<std::map<std::string, std::string>>& rows,
                                                   const std::string& originalName) {
  for (const auto& row : rows) {
    if (row.at("original name") == originalName) return &row;
  }
  return nullptr;
}

TEST(CliOriginalNames, FragmentedDocumentDeletedOnFat32ComesBackUnderItsName) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("mmd");
  const fs::path document = kCorpus / "52420.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  test::TempDir dir;
  test::FatVolume volume(dir, 32, 8);
  volume.Mtools("mmd -i " + volume.image() + " ::Akten");
  const Bytes original = test::ReadFileBytes(document.string());
  const int clusters = static_cast<int>((original.size() + volume.clusterBytes() - 1) / volume.clusterBytes());
  volume.WriteAround(document, "Akten/Quartalsbericht-2024.doc", test::SplitClusters(clusters, 3), [&](std::size_t i) {
    return std::make_pair("K" + std::to_string(i) + ".TXT", TextBytes(2 * volume.clusterBytes() - 100, static_cast<int>(i)));
  });
  volume.Delete("::Akten/Quartalsbericht-2024.doc");
  ASSERT_TRUE(volume.ok());

  for (const bool original_names : {true, false}) {
    SCOPED_TRACE(original_names ? "--names original" : "default names");
    const fs::path out = dir.path() / (original_names ? "out-original" : "out-test");
    fs::create_directory(out);
    EXPECT_EQ(Cli("rescue " + volume.image() + " " + out.string() + " --last 40000" +
                  (original_names ? " --names original" : "")),
              "Rescued file 1\n");
    const auto rows = Rows(out);
    const auto* row = RowNamed(rows, "Quartalsbericht-2024.doc");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->at("folder"), "Akten");
    // Its pieces lie among text files; a piece that holds none of the
    // sectors the file's own tables pin is listed as unverified, though
    // every byte is the document's (as the comparison below shows).
    EXPECT_TRUE(row->at("verdict").starts_with("whole")) << row->at("verdict");
    EXPECT_EQ(row->at("volume start"), "0");
    EXPECT_EQ(row->at("modified").size(), 19u) << row->at("modified");
    if (original_names) {
      EXPECT_EQ(row->at("name"), "Akten/Quartalsbericht-2024.doc");
    } else {
      EXPECT_TRUE(row->at("name").starts_with("TEST_")) << row->at("name");
    }
    EXPECT_TRUE(test::ReadFileBytes((out / row->at("name")).string()) == original);
  }
}

// A GPT disk: a FAT32 of 4 KiB clusters, then an NTFS of 512-byte ones.
// The FAT32's document lies in pieces; the NTFS's starts at an odd sector,
// on no grid of the FAT32's clusters. Both come back whole, with names,
// with the partition table and without it.
TEST(CliOriginalNames, GptDiskWithFat32AndNtfsEachOnItsOwnGrid) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("sgdisk");
  VELLUMARK_REQUIRE_TOOL("mkntfs");
  VELLUMARK_REQUIRE_TOOL("ntfs-3g");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with ntfs-3g");
  const fs::path fatDocument = kCorpus / "47304.doc";
  const fs::path ntfsDocument = kCorpus / "52117.doc";
  for (const fs::path& document : {fatDocument, ntfsDocument}) {
    if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  }
  test::TempDir dir;
  test::FatVolume fat(dir, 32, 8);
  const Bytes fatOriginal = test::ReadFileBytes(fatDocument.string());
  const int clusters = static_cast<int>((fatOriginal.size() + fat.clusterBytes() - 1) / fat.clusterBytes());
  fat.WriteAround(fatDocument, "Protokoll.doc", test::SplitClusters(clusters, 3), [&](std::size_t i) {
    return std::make_pair("K" + std::to_string(i) + ".TXT", TextBytes(fat.clusterBytes() + 300, static_cast<int>(i)));
  });
  fat.Delete("::Protokoll.doc");
  ASSERT_TRUE(fat.ok());

  const std::string ntfs = dir / "ntfs.img";
  const std::string mount = dir / "mnt";
  fs::create_directory(mount);
  ASSERT_EQ(test::Run("truncate -s 24M " + ntfs + " && mkntfs -q -F -Q -c 512 " + ntfs + " >/dev/null 2>&1"), 0);
  ASSERT_EQ(test::Run("ntfs-3g " + ntfs + " " + mount), 0);
  // A small file first, so that the document starts at an odd sector.
  const int written = test::Run("mkdir -p " + mount + "/Akten/2024 && head -c 1100 /dev/urandom > " + mount +
                                "/pad.txt && sync && cp " + ntfsDocument.string() + " '" + mount +
                                "/Akten/2024/Bericht März.doc' && sync && rm '" + mount + "/Akten/2024/Bericht März.doc'");
  ASSERT_EQ(test::Run("umount " + mount), 0);
  ASSERT_EQ(written, 0);

  // The disk: the FAT32 at sector 2048, the NTFS right after it.
  const std::uintmax_t fatSectors = fs::file_size(fat.image()) / 512;
  const std::uintmax_t ntfsStart = 2048 + (fatSectors + 2047) / 2048 * 2048;
  const std::string disk = dir / "disk.img";
  ASSERT_EQ(test::Run("truncate -s " + std::to_string((ntfsStart + 24 * 2048 + 2048) * 512) + " " + disk +
                      " && sgdisk -n 1:2048:+" + std::to_string(fatSectors) + " -t 1:0700 -n 2:" +
                      std::to_string(ntfsStart) + ":+24M -t 2:0700 " + disk + " >/dev/null 2>&1" +
                      " && dd if=" + fat.image() + " of=" + disk + " bs=1M seek=1 conv=notrunc,sparse status=none" +
                      " && dd if=" + ntfs + " of=" + disk + " bs=512 seek=" + std::to_string(ntfsStart) +
                      " conv=notrunc,sparse status=none"),
            0);

  // With its table, then with the table zeroed (as a repartitioning might
  // leave it): the boot sectors the search meets start the volumes then.
  for (const bool zeroed : {false, true}) {
    SCOPED_TRACE(zeroed ? "table zeroed" : "with the table");
    if (zeroed) {
      ASSERT_EQ(test::Run("dd if=/dev/zero of=" + disk + " bs=512 count=34 conv=notrunc status=none"), 0);
    }
    const fs::path out = dir.path() / (zeroed ? "out-zeroed" : "out");
    fs::create_directory(out);
    EXPECT_EQ(Cli("rescue " + disk + " " + out.string() + " --names original"), "Rescued file 2\n");
    const auto rows = Rows(out);
    const auto* fatRow = RowNamed(rows, "Protokoll.doc");
    ASSERT_NE(fatRow, nullptr);
    EXPECT_EQ(fatRow->at("volume start"), "2048");
    EXPECT_EQ(fatRow->at("name"), "Protokoll.doc");
    EXPECT_TRUE(test::ReadFileBytes((out / "Protokoll.doc").string()) == fatOriginal);
    const auto* ntfsRow = RowNamed(rows, "Bericht März.doc");
    ASSERT_NE(ntfsRow, nullptr);
    EXPECT_EQ(ntfsRow->at("volume start"), std::to_string(ntfsStart));
    EXPECT_EQ(ntfsRow->at("folder"), "Akten/2024");
    EXPECT_EQ(std::stoll(ntfsRow->at("start sector")) % 2, 1) << "the NTFS document should lie off any even grid";
    EXPECT_TRUE(test::ReadFileBytes((out / "Akten/2024/Bericht März.doc").string()) ==
                test::ReadFileBytes(ntfsDocument.string()));
  }
}

}  // namespace
}  // namespace vellumark

namespace vellumark {
namespace {

// Documents that ntfs-3g wrote into a volume whose free space is the 4 KiB
// holes between kept files, then deleted: the carving alone cannot hold
// them together, but their records' data runs list every piece, and the
// documents come back whole from them, under their names.
TEST(CliOriginalNames, DocumentsInManyPiecesOnNtfsComeBackFromTheirRuns) {
  VELLUMARK_REQUIRE_TOOL("mkntfs");
  VELLUMARK_REQUIRE_TOOL("ntfs-3g");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with ntfs-3g");
  const fs::path doc = kCorpus / "53446.doc";
  const fs::path docx = kCorpus.parent_path() / "ooxml/pydocx-06.docx";
  for (const fs::path& document : {doc, docx}) {
    if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  }
  test::TempDir dir;
  const std::string image = dir / "ntfs.img";
  const std::string mount = dir / "mnt";
  fs::create_directory(mount);
  ASSERT_EQ(test::Run("truncate -s 12M " + image + " && mkntfs -q -F -Q -c 512 " + image + " >/dev/null 2>&1"), 0);
  ASSERT_EQ(test::Run("ntfs-3g " + image + " " + mount), 0);
  // Kept files of text filling the volume, every other one deleted: the
  // documents can only go into the holes.
  const std::string fill =
      "cd " + mount + " && i=0; while [ $i -lt 2000 ]; do "
      "yes \"minutes of meeting $i, item and note\" | head -c 4096 > k$i.txt 2>/dev/null || break; i=$((i+1)); done; sync; "
      "i=0; while [ $i -lt 2000 ]; do rm -f k$i.txt; i=$((i+2)); done; sync";
  const int filled = test::Run("sh -c '" + fill + "'");
  const int written = test::Run("mkdir " + mount + "/Ablage && cp " + doc.string() + " '" + mount +
                                "/Ablage/Sitzung.doc' && cp " + docx.string() + " '" + mount +
                                "/Ablage/Antrag.docx' && sync && rm '" + mount + "/Ablage/Sitzung.doc' '" + mount +
                                "/Ablage/Antrag.docx'");
  ASSERT_EQ(test::Run("umount " + mount), 0);
  ASSERT_EQ(filled, 0);
  ASSERT_EQ(written, 0);

  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  Cli("rescue " + image + " " + out.string() + " --types doc,docx --names original");
  const auto rows = Rows(out);
  for (const auto& [name, document] : {std::pair{"Sitzung.doc", doc}, std::pair{"Antrag.docx", docx}}) {
    SCOPED_TRACE(name);
    const auto* row = RowNamed(rows, name);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->at("folder"), "Ablage");
    EXPECT_EQ(row->at("verdict"), "whole");
    EXPECT_GE(std::stoi(row->at("fragments")), 2);
    EXPECT_TRUE(test::ReadFileBytes((out / "Ablage" / name).string()) == test::ReadFileBytes(document.string()));
  }
}

}  // namespace
}  // namespace vellumark

namespace vellumark {
namespace {

// A document deleted from an exFAT volume that exfat-fuse wrote: its entry
// set keeps its name, first cluster, size and that its clusters follow one
// another, and it comes back under its name.
TEST(CliOriginalNames, DocumentDeletedOnExfatComesBackUnderItsName) {
  VELLUMARK_REQUIRE_TOOL("mkfs.exfat");
  VELLUMARK_REQUIRE_TOOL("mount.exfat-fuse");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with exfat-fuse");
  const fs::path document = kCorpus / "47304.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  test::TempDir dir;
  const std::string image = dir / "exfat.img";
  ASSERT_EQ(test::Run("truncate -s 16M " + image + " && mkfs.exfat -c 4K " + image + " >/dev/null 2>&1"), 0);
  const std::string mount = dir / "mnt";
  fs::create_directory(mount);
  int written = -1;
  {
    test::LoopDevice loop(image);
    VELLUMARK_REQUIRE(!loop.path().empty(), "a loop device");
    ASSERT_EQ(test::Run("mount.exfat-fuse " + loop.path() + " " + mount + " >/dev/null 2>&1"), 0);
    written = test::Run("mkdir " + mount + "/Briefe && head -c 5000 /dev/urandom > " + mount + "/kept.bin && cp " +
                        document.string() + " '" + mount + "/Briefe/Antwort an das Amt.doc' && sync && rm '" + mount +
                        "/Briefe/Antwort an das Amt.doc'");
    ASSERT_EQ(test::Run("umount " + mount), 0);
  }
  ASSERT_EQ(written, 0);
  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  EXPECT_EQ(Cli("rescue " + image + " " + out.string() + " --names original"), "Rescued file 1\n");
  const auto rows = Rows(out);
  const auto* row = RowNamed(rows, "Antwort an das Amt.doc");
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(row->at("folder"), "Briefe");
  EXPECT_EQ(row->at("name"), "Briefe/Antwort an das Amt.doc");
  EXPECT_TRUE(test::ReadFileBytes((out / "Briefe/Antwort an das Amt.doc").string()) ==
              test::ReadFileBytes(document.string()));
}

}  // namespace
}  // namespace vellumark
