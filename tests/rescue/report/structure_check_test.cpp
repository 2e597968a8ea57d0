#include "rescue/report/structure_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const std::string kCorpus = VELLUMARK_CORPUS_DIR;

#define REQUIRE_CORPUS() \
  if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "test corpus not found at " << kCorpus

Bytes Corpus(const std::string& name) { return test::ReadFileBytes(kCorpus + "/" + name); }
std::uint32_t Get32(const Bytes& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
// Byte offset of file sector k, and of the FAT entry that links it (first FAT sector).
std::size_t At(std::uint32_t sector) { return (sector + 1) * std::size_t{512}; }
std::size_t Link(const Bytes& f, std::uint32_t sector) { return At(Get32(f, 76)) + 4 * sector; }
// Byte offset of the directory entry with this (ASCII) name.
std::size_t EntryAt(const Bytes& f, const std::string& name) {
  Bytes wide;
  for (char c : name) wide.insert(wide.end(), {static_cast<std::uint8_t>(c), 0});
  return static_cast<std::size_t>(std::search(f.begin(), f.end(), wide.begin(), wide.end()) - f.begin());
}
// First 64-byte boundary where a Word file-information block begins.
std::size_t FibAt(const Bytes& f) {
  for (std::size_t at = 512; at + 1 < f.size(); at += 64) {
    if ((f[at] == 0xEC || f[at] == 0xDC) && f[at + 1] == 0xA5) return at;
  }
  return 0;
}

TEST(StructureCheck, RealCompoundFilesAreWhole) {
  REQUIRE_CORPUS();
  int checked = 0;
  for (const char* folder : {"doc", "xls", "ppt", "other-ole"}) {
    for (const auto& item : fs::directory_iterator(fs::path(kCorpus) / folder)) {
      const StructureVerdict v = CheckStructure(test::ReadFileBytes(item.path().string()));
      EXPECT_EQ(v.verdict, Verdict::Whole) << item.path().filename() << ": " << v.fault;
      ++checked;
    }
  }
  EXPECT_GE(checked, 159);
}

TEST(StructureCheck, MalformedFilesAreJudgedWithoutHarm) {
  REQUIRE_CORPUS();
  EXPECT_EQ(CheckStructure(Corpus("doc-malformed/word2.doc")).fault, "header: no compound file signature");
  EXPECT_EQ(CheckStructure(Corpus("doc-malformed/badfile-01-bad-header.doc")).verdict, Verdict::Damaged);
  // Its damage lies inside the streams; the compound file's own bookkeeping holds together.
  EXPECT_EQ(CheckStructure(Corpus("doc-malformed/Fuzzed.doc")).verdict, Verdict::Whole);
}

TEST(StructureCheck, ForeignSectorIsCaught) {
  REQUIRE_CORPUS();
  // Random bytes, and another document's FAT and directory sectors, which
  // look right in themselves but describe a different file.
  const Bytes other = Corpus("doc/Bug60942.doc");
  const auto sectorOf = [&](std::uint32_t k) { return Bytes(other.begin() + At(k), other.begin() + At(k + 1)); };
  const std::vector<Bytes> foreigns = {test::PatternBytes(512, 99), sectorOf(Get32(other, 76)),
                                       sectorOf(Get32(other, 48))};
  struct Case {
    const char* file;
    const char* target;
    std::function<std::size_t(const Bytes&)> where;
    const char* faultNames;
  };
  const std::vector<Case> cases = {
      {"doc/simple.doc", "WordDocument's first sector", FibAt, "WordDocument"},
      // A Word 6 document whose WordDocument is small enough to live in the mini stream.
      {"doc/52117.doc", "mini sector holding WordDocument", [](const Bytes& f) { return FibAt(f) / 512 * 512; },
       "WordDocument"},
      {"doc/simple.doc", "FAT sector", [](const Bytes& f) { return At(Get32(f, 76)); }, "FAT"},
      {"doc/simple.doc", "first directory sector", [](const Bytes& f) { return At(Get32(f, 48)); }, ""},
      {"doc/simple.doc", "last directory sector", [](const Bytes& f) { return At(Get32(f, 48) + 1); }, ""},
      {"doc/large-difat-libreoffice.doc", "DIFAT sector", [](const Bytes& f) { return At(Get32(f, 68)); }, "FAT"},
  };
  for (const Case& c : cases) {
    const Bytes original = Corpus(c.file);
    const std::size_t at = c.where(original);
    ASSERT_TRUE(at >= 512 && at % 512 == 0) << c.target;
    for (const Bytes& foreign : foreigns) {
      Bytes f = original;
      std::copy(foreign.begin(), foreign.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
      const StructureVerdict v = CheckStructure(f);
      EXPECT_EQ(v.verdict, Verdict::Damaged) << c.target;
      EXPECT_NE(v.fault.find(c.faultNames), std::string::npos) << c.target << ": " << v.fault;
    }
  }
}

TEST(StructureCheck, TruncatedFileIsDamaged) {
  REQUIRE_CORPUS();
  const Bytes whole = Corpus("doc/simple.doc");
  for (const std::size_t size : {std::size_t{0}, std::size_t{7}, std::size_t{511}, std::size_t{512}, std::size_t{4096},
                                 whole.size() / 2, whole.size() - 512}) {
    const StructureVerdict v = CheckStructure(Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(size)));
    EXPECT_EQ(v.verdict, Verdict::Damaged) << size;
  }
}

TEST(StructureCheck, FaultNamesWhatBroke) {
  REQUIRE_CORPUS();
  const Bytes simple = Corpus("doc/simple.doc");  // FAT in sector 32, directory in 33..34, WordDocument 0..7
  ASSERT_EQ(Get32(simple, 76), 32u);
  ASSERT_EQ(Get32(simple, 48), 33u);
  const std::size_t word = EntryAt(simple, "WordDocument");
  const std::vector<std::pair<std::function<void(Bytes&)>, std::string>> cases = {
      {[](Bytes& f) { f[0] = 0; }, "header: no compound file signature"},
      {[](Bytes& f) { Put32(f, 28, 0x000CFFFE); }, "header: not a version 3 little-endian file of 512-byte sectors"},
      {[](Bytes& f) { Put32(f, 44, 2); }, "FAT: header counts 2 sectors but lists only 1"},
      {[](Bytes& f) { Put32(f, Link(f, 32), 0xFFFFFFFF); }, "FAT: sector 32 lacks its mark in the FAT"},
      {[](Bytes& f) { Put32(f, Link(f, 33), 33); }, "directory: chain loops at sector 33"},
      {[](Bytes& f) { Put32(f, Link(f, 33), 0xFFFFFFFF); }, "directory: chain breaks after sector 33"},
      {[](Bytes& f) { Put32(f, Link(f, 33), 5000); }, "directory: chain leaves the file at sector 5000"},
      {[](Bytes& f) { Put32(f, 48, 32); }, "directory: sector 32 also belongs to FAT"},
      {[](Bytes& f) { Put32(f, Link(f, 7), 34); }, "WordDocument: sector 34 also belongs to directory"},
      {[=](Bytes& f) { Put32(f, word + 120, 4096 + 1000); }, "WordDocument: chain has 8 sectors for 5096 bytes"},
      {[=](Bytes& f) { f[word + 66] = 3; },
       "directory: entry " + std::to_string((word - At(33)) / 128) + " has unknown type 3"},
      {[](Bytes& f) { f[At(0)] = 0; }, "WordDocument: no Word file-information block"},
  };
  for (const auto& [edit, fault] : cases) {
    Bytes f = simple;
    edit(f);
    const StructureVerdict v = CheckStructure(f);
    EXPECT_EQ(v.verdict, Verdict::Damaged) << fault;
    EXPECT_EQ(v.fault, fault);
  }
}

}  // namespace
}  // namespace vellumark
