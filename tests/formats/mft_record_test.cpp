// NTFS file records as ntfs-3g leaves them: a deleted file's record keeps
// its name, folder, size and data runs, and the runs lead to its bytes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/ntfs/mft_record.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const fs::path kCorpus = VELLUMARK_CORPUS_DIR;

struct Found {
  MftRecordFacts facts;
  std::uint64_t recordNumber = 0;
};

// Every record of the volume's MFT whose preferred name is name.
std::vector<Found> RecordsNamed(const Bytes& volume, const NtfsBootFacts& boot, const std::string& name) {
  const ByteView all(volume.data(), volume.size());
  const std::uint64_t clusterBytes = std::uint64_t{boot.sectorsPerCluster} * boot.bytesPerSector;
  const auto mft = ParseMftRecord(all.From(boot.mftCluster * clusterBytes).value());
  std::vector<Found> found;
  if (!mft) return found;
  std::uint64_t number = 0;
  for (const DataRun& run : mft->runs) {
    for (std::uint64_t at = 0; run.cluster && at < run.length * clusterBytes; at += boot.recordSize, ++number) {
      const auto record = all.Bytes(*run.cluster * clusterBytes + at, boot.recordSize);
      if (!record) continue;
      const auto facts = ParseMftRecord(*record);
      if (facts && facts->PreferredName() && facts->PreferredName()->name == name) found.push_back({*facts, number});
    }
  }
  return found;
}

Bytes BytesOfRuns(const Bytes& volume, const std::vector<DataRun>& runs, std::uint64_t clusterBytes, std::uint64_t size) {
  Bytes bytes;
  for (const DataRun& run : runs) {
    const std::uint64_t at = run.cluster.value_or(0) * clusterBytes;
    if (!run.cluster || at + run.length * clusterBytes > volume.size()) return {};
    bytes.insert(bytes.end(), volume.begin() + static_cast<std::ptrdiff_t>(at),
                 volume.begin() + static_cast<std::ptrdiff_t>(at + run.length * clusterBytes));
  }
  if (bytes.size() < size) return {};
  bytes.resize(size);
  return bytes;
}

TEST(MftRecord, DeletedFileKeepsNameFolderAndRuns) {
  VELLUMARK_REQUIRE_TOOL("mkntfs");
  VELLUMARK_REQUIRE_TOOL("ntfs-3g");
  VELLUMARK_REQUIRE(::geteuid() == 0 && fs::exists("/dev/fuse"), "root and /dev/fuse to mount with ntfs-3g");
  const fs::path document = kCorpus / "doc/47304.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no corpus document " << document);
  test::TempDir dir;
  const std::string image = dir / "ntfs.img";
  const std::string mount = dir / "mnt";
  fs::create_directory(mount);
  ASSERT_EQ(test::Run("truncate -s 32M " + image + " && mkntfs -q -F -Q -c 1024 " + image + " >/dev/null 2>&1"), 0);
  ASSERT_EQ(test::Run("ntfs-3g " + image + " " + mount), 0);
  const std::string name = "Bericht März.doc";
  const int written = test::Run("mkdir " + mount + "/Akten && cp " + document.string() + " '" + mount + "/Akten/" +
                                name + "' && sync && rm '" + mount + "/Akten/" + name + "'");
  ASSERT_EQ(test::Run("umount " + mount), 0);
  ASSERT_EQ(written, 0);

  const Bytes volume = test::ReadFileBytes(image);
  const auto boot = ParseNtfsBootSector(ByteView(volume.data(), 512));
  ASSERT_TRUE(boot);
  EXPECT_EQ(boot->bytesPerSector, 512u);
  EXPECT_EQ(boot->sectorsPerCluster, 2u);
  EXPECT_EQ(boot->recordSize, 1024u);

  const auto folders = RecordsNamed(volume, *boot, "Akten");
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_TRUE(folders[0].facts.directory);
  const auto files = RecordsNamed(volume, *boot, name);
  ASSERT_EQ(files.size(), 1u);
  const MftRecordFacts& file = files[0].facts;
  EXPECT_FALSE(file.inUse);
  EXPECT_EQ(file.PreferredName()->parentRecord, folders[0].recordNumber);
  ASSERT_TRUE(file.hasData);
  EXPECT_FALSE(file.dataResident);
  const Bytes original = test::ReadFileBytes(document.string());
  EXPECT_EQ(file.dataSize, original.size());
  EXPECT_GT(file.PreferredName()->modified, 1'600'000'000);
  EXPECT_TRUE(BytesOfRuns(volume, file.runs, 1024, file.dataSize) == original);
}

TEST(MftRecord, TornStrideFailsTheRecord) {
  VELLUMARK_REQUIRE_TOOL("mkntfs");
  test::TempDir dir;
  const Bytes volume = test::Made(dir, "truncate -s 8M ", "ntfs.img", " && mkntfs -q -F -Q " + (dir / "ntfs.img") +
                                                                         " >/dev/null 2>&1");
  const auto boot = ParseNtfsBootSector(ByteView(volume.data(), 512));
  ASSERT_TRUE(boot);
  const std::uint64_t at = boot->mftCluster * boot->sectorsPerCluster * boot->bytesPerSector;
  Bytes record(volume.begin() + static_cast<std::ptrdiff_t>(at),
               volume.begin() + static_cast<std::ptrdiff_t>(at + boot->recordSize));
  const auto mft = ParseMftRecord(ByteView(record.data(), record.size()));
  ASSERT_TRUE(mft);
  EXPECT_TRUE(mft->inUse);
  ASSERT_TRUE(mft->PreferredName());
  EXPECT_EQ(mft->PreferredName()->name, "$MFT");
  // The second stride's last bytes no longer hold the sequence number: a
  // write that stopped halfway.
  record[1022] ^= 0xFF;
  EXPECT_FALSE(ParseMftRecord(ByteView(record.data(), record.size())));
}

// Run lists as NTFS encodes them: a header byte giving the widths of the
// length and of the signed offset from the previous run's cluster.
TEST(MftRecord, DataRunLists) {
  struct Case {
    Bytes list;
    std::optional<std::vector<DataRun>> runs;
  };
  const std::vector<Case> cases = {
      {{0x21, 0x18, 0x34, 0x56, 0x00}, std::vector<DataRun>{{0x5634, 0x18}}},
      // Forward, then backward (offset -0x10 as one signed byte), then sparse.
      {{0x11, 0x04, 0x40, 0x11, 0x02, 0xF0, 0x01, 0x08, 0x00},
       std::vector<DataRun>{{0x40, 4}, {0x30, 2}, {std::nullopt, 8}}},
      {{0x31, 0x01, 0x00, 0x00, 0x01, 0x00}, std::vector<DataRun>{{0x10000, 1}}},
      {{0x11, 0x04, 0x40}, std::nullopt},              // no end mark
      {{0x11, 0x04, 0xC0, 0x00}, std::nullopt},        // a cluster below zero
      {{0x11, 0x00, 0x40, 0x00}, std::nullopt},        // an empty run
      {{0x21, 0x18, 0x34}, std::nullopt},              // the offset cut off
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(ParseDataRuns(ByteView(cases[i].list.data(), cases[i].list.size())), cases[i].runs) << "case " << i;
  }
}

}  // namespace
}  // namespace vellumark
