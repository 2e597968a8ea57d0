// Documents removed from ext4 volumes by e2fsprogs: the removed name stays
// in its directory block and leads to the inode, which (as debugfs leaves
// it) still holds the extents, so a document written into the holes
// between live files comes back whole from them, under its name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

std::string Debugfs(const std::string& image, const std::string& request) {
  return test::RunOutput("debugfs -w -R '" + request + "' " + image + " 2>/dev/null");
}

struct Ext4Case {
  int blockBytes;
  const char* document;  // under the corpus; none of its blocks all zeros (debugfs would leave a hole)
  const char* types;
  const char* removal;   // how debugfs takes the name away
};

class Ext4Records : public ::testing::TestWithParam<Ext4Case> {};

TEST_P(Ext4Records, RemovedDocumentComesBackFromItsInodesExtents) {
  VELLUMARK_REQUIRE_TOOL("mke2fs");
  VELLUMARK_REQUIRE_TOOL("debugfs");
  const Ext4Case c = GetParam();
  const fs::path document = kCorpus / c.document;
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  const Bytes original = test::ReadFileBytes(document.string());
  const std::size_t blocks = (original.size() + static_cast<std::size_t>(c.blockBytes) - 1) / static_cast<std::size_t>(c.blockBytes);
  test::TempDir dir;
  // Kept files of two blocks each, every other one removed: the document
  // can only go into two-block holes.
  fs::create_directories(dir.path() / "tree/Akten");
  const std::size_t kept = blocks + 8;
  for (std::size_t i = 0; i < kept; ++i) {
    std::string text;
    while (text.size() < static_cast<std::size_t>(2 * c.blockBytes)) text += "ledger line " + std::to_string(i) + "\n";
    text.resize(static_cast<std::size_t>(2 * c.blockBytes));
    test::WriteFileBytes(dir / ("tree/k" + std::to_string(i) + ".txt"), Bytes(text.begin(), text.end()));
  }
  const std::string image = dir / "ext4.img";
  const std::size_t kib = (kept * 2 * static_cast<std::size_t>(c.blockBytes) + original.size()) / 1024 + 4096;
  ASSERT_EQ(test::Run("mke2fs -q -t ext4 -b " + std::to_string(c.blockBytes) + " -d " + (dir / "tree") + " " + image +
                      " " + std::to_string(kib) + "k >/dev/null 2>&1"),
            0);
  std::string removals;
  for (std::size_t i = 0; i < kept; i += 2) removals += "rm /k" + std::to_string(i) + ".txt\n";
  test::WriteFileBytes(dir / "removals", Bytes(removals.begin(), removals.end()));
  ASSERT_EQ(test::Run("debugfs -w -f " + (dir / "removals") + " " + image + " >/dev/null 2>&1"), 0);
  const std::string name = std::string("Sitzung vom Mai") + document.extension().string();
  Debugfs(image, "write " + document.string() + " \"/Akten/" + name + "\"");
  const std::string extents = Debugfs(image, "ex \"/Akten/" + name + "\"");
  Debugfs(image, std::string(c.removal) + " \"/Akten/" + name + "\"");

  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  Cli("rescue " + image + " " + out.string() + " --types " + c.types + " --names original");
  const auto rows = test::NamedReportRows(out);
  const Row* row = test::RowWithOriginalName(rows, name);
  ASSERT_NE(row, nullptr) << extents;
  EXPECT_EQ(row->at("folder"), "Akten");
  EXPECT_EQ(row->at("verdict"), "whole");
  // Holes next to one another make one piece; most are apart.
  EXPECT_GE(std::stoi(row->at("fragments")), static_cast<int>(blocks / 4)) << extents;
  EXPECT_EQ(row->at("modified").size(), 19u) << row->at("modified");
  EXPECT_TRUE(test::ReadFileBytes((out / "Akten" / name).string()) == original);
}

INSTANTIATE_TEST_SUITE_P(Volumes, Ext4Records,
                         ::testing::Values(Ext4Case{1024, "doc/Bug44431.doc", "doc", "rm"},
                                           Ext4Case{4096, "doc/53379.doc", "doc", "unlink"},
                                           Ext4Case{4096, "ooxml/docx.1.docx", "docx", "rm"}),
                         [](const auto& info) {
                           return std::to_string(info.param.blockBytes) + "_" +
                                  fs::path(info.param.document).extension().string().substr(1) + "_" +
                                  info.param.removal;
                         });

// A volume whose records lie: the root folder's extent claims 32,767
// blocks past its own and the group descriptors put the inode tables past
// the volume's end. The walk stays within its counts and the volume's
// bytes, and the document still comes back whole.
TEST(Ext4Records, LyingRecordsLeaveTheCarvingAsItWas) {
  VELLUMARK_REQUIRE_TOOL("mke2fs");
  VELLUMARK_REQUIRE_TOOL("debugfs");
  // No 1 KiB block of it is all zeros, which mke2fs would leave as a hole.
  const fs::path document = kCorpus / "doc/Bug44431.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  test::TempDir dir;
  fs::create_directories(dir.path() / "tree");
  fs::copy_file(document, dir.path() / "tree/Sitzung.doc");
  const std::string image = dir / "ext4.img";
  ASSERT_EQ(test::Run("mke2fs -q -t ext4 -b 1024 -d " + (dir / "tree") + " " + image + " 4096k >/dev/null 2>&1"), 0);
  const std::string place = Debugfs(image, "imap <2>");
  const std::size_t block = place.find("located at block ");
  const std::size_t offset = place.find("offset 0x");
  ASSERT_NE(block, std::string::npos) << place;
  ASSERT_NE(offset, std::string::npos) << place;
  const std::uint64_t rootInodeAt = std::stoull(place.substr(block + 17)) * 1024 + std::stoull(place.substr(offset + 9), nullptr, 16);
  for (const bool descriptors : {false, true}) {
    SCOPED_TRACE(descriptors ? "inode tables past the end" : "root folder's extent too long");
    Bytes bytes = test::ReadFileBytes(image);
    if (descriptors) {
      // The group's inode table (its descriptor's bytes 8-11) far away:
      bytes[2048 + 11] = 0x7F;  // one group at 8,192 blocks a group
    } else {
      // The root inode's first extent: its length at bytes 40 + 12 + 4.
      bytes[rootInodeAt + 56] = 0xFF, bytes[rootInodeAt + 57] = 0x7F;
    }
    const std::string lying = dir / "lying.img";
    test::WriteFileBytes(lying, bytes);
    const fs::path out = dir.path() / (descriptors ? "out-descriptors" : "out-extent");
    fs::create_directory(out);
    EXPECT_EQ(Cli("rescue " + lying + " " + out.string() + " --types doc --names original"), "Rescued file 1\n");
    const auto rows = test::NamedReportRows(out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("verdict"), "whole");
    EXPECT_TRUE(test::ReadFileBytes((out / rows[0].at("name")).string()) == test::ReadFileBytes(document.string()));
  }
}

// A removed name whose inode a live file was given since: it leads to the
// live file's blocks and size, but it is not that file's name.
TEST(Ext4Records, RemovedNameOfAReusedInodeDoesNotNameTheLiveFile) {
  VELLUMARK_REQUIRE_TOOL("mke2fs");
  VELLUMARK_REQUIRE_TOOL("debugfs");
  // No 1 KiB block of either is all zeros, which would be left as a hole.
  const fs::path before = kCorpus / "doc/Bug45269.doc";
  const fs::path after = kCorpus / "doc/Bug44431.doc";
  for (const fs::path& document : {before, after}) {
    if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  }
  test::TempDir dir;
  fs::create_directories(dir.path() / "tree/Akten");
  fs::copy_file(before, dir.path() / "tree/Akten/Entwurf.doc");
  const std::string image = dir / "ext4.img";
  ASSERT_EQ(test::Run("mke2fs -q -t ext4 -b 1024 -d " + (dir / "tree") + " " + image + " 4096k >/dev/null 2>&1"), 0);
  const std::string inode = Debugfs(image, "stat /Akten/Entwurf.doc");
  Debugfs(image, "rm /Akten/Entwurf.doc");
  // Into another folder, so that the removed name's entry stays.
  Debugfs(image, "write " + after.string() + " /Endfassung.doc");
  // The freed inode and blocks went to the new file.
  ASSERT_EQ(inode.substr(0, inode.find("Type")), Debugfs(image, "stat /Endfassung.doc").substr(0, inode.find("Type")));
  ASSERT_NE(Debugfs(image, "ls -d /Akten").find("Entwurf.doc"), std::string::npos);

  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  EXPECT_EQ(Cli("rescue " + image + " " + out.string() + " --types doc"), "Rescued file 1\n");
  const auto rows = test::NamedReportRows(out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("original name"), "Endfassung.doc");
  EXPECT_EQ(rows[0].at("folder"), "");
}

}  // namespace
}  // namespace vellumark
