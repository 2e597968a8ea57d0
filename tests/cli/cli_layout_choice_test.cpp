// Documents deleted from a FAT32 volume of 512-byte clusters, each starting
// at an odd sector, beside files of another kind that all start on a 32 KiB
// grid and so outvote the documents in the inference of where clusters
// start. "Formatted" and "Repartitioned", with whatever cluster size, must
// bring every document back: a document's header is carved on a grid of
// its own wherever it lies.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/fat_volume.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const fs::path kCorpus = VELLUMARK_CORPUS_DIR;

TEST(CliLayoutChoice, DocumentsOffTheChosenGridAllComeBack) {
  VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
  VELLUMARK_REQUIRE_TOOL("mcopy");
  VELLUMARK_REQUIRE_TOOL("mshowfat");
  const std::vector<std::string> documents = {"doc/52420.doc", "ooxml/TestEditTime.docx", "doc/47304.doc",
                                              "doc/57843.doc", "ooxml/table-merges.docx", "doc/56880.doc"};
  for (const std::string& document : documents) {
    if (!fs::exists(kCorpus / document)) VELLUMARK_CANNOT_RUN("no corpus document " << kCorpus / document);
  }
  test::TempDir dir;
  test::FatVolume volume(dir, 32, 1);
  ASSERT_TRUE(volume.ok());
  // Each document after a kept file of one or two clusters, so that it
  // starts at an odd sector: on no grid of 1K clusters or more.
  std::map<std::int64_t, Bytes> lost;  // first sector, bytes
  std::string names;
  std::int64_t nextCluster = 3;  // the root directory has cluster 2
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const int pad = volume.FirstSectorOf(nextCluster + 1) % 2 == 1 ? 1 : 2;
    volume.Add("K" + std::to_string(i) + ".TXT", Bytes(static_cast<std::size_t>(pad) * 512 - 100, 'k'));
    const std::string name = "D" + std::to_string(i) + fs::path(documents[i]).extension().string();
    volume.Copy((kCorpus / documents[i]).string(), name);
    const auto runs = volume.ClusterRuns(name);
    ASSERT_EQ(runs.size(), 1u) << name;
    const std::int64_t first = volume.FirstSectorOf(runs[0].first);
    ASSERT_EQ(first % 2, 1) << name << " starts at sector " << first;
    lost[first] = test::ReadFileBytes((kCorpus / documents[i]).string());
    names += " ::" + name;
    nextCluster = runs[0].second + 1;
  }
  volume.Delete(names);
  ASSERT_TRUE(volume.ok());
  // Six files of another kind on the 32 KiB grid, in free space far after
  // the documents: more votes there than any document's sector gets.
  for (std::int64_t k = 0; k < 6; ++k) {
    ASSERT_EQ(test::Run("printf 'GIF89a' | dd of=" + volume.image() + " bs=512 seek=" + std::to_string(64 * (6000 + 3 * k)) +
                        " conv=notrunc status=none"),
              0);
  }

  for (const char* reason : {"formatted", "repartitioned"}) {
    for (const char* cluster : {"", "512", "2K", "4K", "32K"}) {
      SCOPED_TRACE(std::string("--reason ") + reason + (*cluster ? std::string(" --cluster ") + cluster : ""));
      const fs::path out = dir.path() / (std::string("out-") + reason + "-" + cluster);
      fs::create_directory(out);
      test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " rescue " + volume.image() + " " + out.string() +
                      " --types doc,docx --last 400000 --reason " + reason +
                      (*cluster ? std::string(" --cluster ") + cluster : "") + " 2>/dev/null");
      std::map<std::int64_t, std::string> saved;  // first sector, file name
      for (const auto& row : test::ReportRows(out)) {
        if (row.size() > 7 && !row[0].empty() && row[0] != "name") saved[std::stoll(row[7])] = row[0];
      }
      for (const auto& [first, bytes] : lost) {
        ASSERT_TRUE(saved.count(first)) << "nothing saved from sector " << first;
        EXPECT_TRUE(test::ReadFileBytes((out / saved[first]).string()) == bytes) << saved[first];
      }
    }
  }
}

}  // namespace
}  // namespace vellumark
