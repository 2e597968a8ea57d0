#include "formats/compound/structure_check.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
const std::string kCorpus = VELLUMARK_CORPUS_DIR;

#define REQUIRE_CORPUS() \
  if (!fs::is_directory(kCorpus)) VELLUMARK_CANNOT_RUN("test corpus not found at " << kCorpus)

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
      {[](Bytes& f) {
         Put32(f, 44, 2);
         Put32(f, 80, 32);
       },
       "FAT: sector 32 listed twice"},
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

// A FAT sector listed one past the file's last whole sector lies outside it,
// even where the bytes after the file (here, the rest of the document) are
// readable and hold a sound FAT.
TEST(StructureCheck, FatSectorOnePastTheFileIsOutsideIt) {
  REQUIRE_CORPUS();
  const Bytes simple = Corpus("doc/simple.doc");  // FAT in sector 32
  ASSERT_EQ(Get32(simple, 76), 32u);
  for (const std::uint32_t sectors : {32u, 33u}) {  // the FAT sector one past the end, and the last one
    // What follows the file is another's: zeros, which as a FAT would fail differently.
    Bytes disk(simple.begin(), simple.begin() + static_cast<std::ptrdiff_t>(At(sectors)));
    disk.resize(simple.size(), 0);
    const StructureVerdict v = CheckStructure(std::span(disk.data(), At(sectors)));
    EXPECT_EQ(v.verdict, Verdict::Damaged);
    if (sectors == 32) EXPECT_EQ(v.fault, "FAT: sector 32 lies outside the file");
    else EXPECT_EQ(v.fault, "directory: chain leaves the file at sector 33");
  }
}

// Only the mini stream's chain may run past what its size fills; a stream of
// the FAT one sector too long holds another's sector.
TEST(StructureCheck, ChainLongerThanItsStreamIsDamaged) {
  REQUIRE_CORPUS();
  Bytes f = Corpus("doc/52420.doc");
  const std::size_t word = EntryAt(f, "WordDocument");
  ASSERT_EQ(Get32(f, word + 120), 8244u);  // 17 sectors, the last one cut short
  Put32(f, word + 120, 8192);                // as if 16 sectors held it all
  EXPECT_EQ(CheckStructure(f).fault, "WordDocument: chain has 17 sectors for 8192 bytes");
}

// The check's fault, run in a child process so that a check that never ends
// fails the test instead of hanging it; none when the child was stopped
// after waiting far longer than any check takes, or ran out of memory.
std::optional<std::string> FaultInChild(const Bytes& file) {
  int pipeEnds[2];
  if (::pipe(pipeEnds) != 0) return std::nullopt;
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeEnds[0]);
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow alone takes more address space
    const rlimit memory{1u << 30, 1u << 30};  // a runaway walk fails rather than fills the machine
    ::setrlimit(RLIMIT_AS, &memory);
#endif
    try {
      const std::string fault = CheckStructure(file).fault;
      const bool wrote = ::write(pipeEnds[1], fault.data(), fault.size()) == static_cast<ssize_t>(fault.size());
      ::_exit(wrote ? 0 : 1);
    } catch (...) {
      ::_exit(2);  // never back into the test runner's own loop
    }
  }
  ::close(pipeEnds[1]);
  int status = 0;
  bool ended = false;
  for (int waited = 0; child > 0 && waited < 600 && !ended; ++waited) {
    ended = ::waitpid(child, &status, WNOHANG) == child;
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (child > 0 && !ended) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  std::string fault;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) fault.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeEnds[0]);
  if (!ended || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return fault;
}

// Links that lead back into the tree make a cycle: the walk names the entry
// met a second time and stops.
TEST(StructureCheck, DirectoryTreeCycleIsDamaged) {
  REQUIRE_CORPUS();
  const Bytes simple = Corpus("doc/simple.doc");
  // Entry 2 WordDocument; entry 6 ObjectPool, a storage, the right child of entry 5.
  const std::size_t word = EntryAt(simple, "WordDocument"), pool = EntryAt(simple, "ObjectPool");
  ASSERT_EQ((word - At(33)) / 128, 2u);
  ASSERT_EQ((pool - At(33)) / 128, 6u);
  const struct { const char* name; std::size_t linkAt; std::uint32_t to; std::string fault; } cases[] = {
      {"back to the root", word + 72, 0, "directory: WordDocument links to entry 0 a second time"},
      {"to itself", pool + 76, 6, "directory: ObjectPool links to entry 6 a second time"},
      {"to its parent", pool + 76, 5, "directory: ObjectPool links to entry 5 a second time"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes f = simple;
    ASSERT_EQ(Get32(f, c.linkAt), 0xFFFFFFFFu);  // the link was unused
    Put32(f, c.linkAt, c.to);
    const std::optional<std::string> fault = FaultInChild(f);
    ASSERT_TRUE(fault.has_value()) << "the check did not end, or ran out of memory";
    EXPECT_EQ(*fault, c.fault);
  }
}

}  // namespace
}  // namespace vellumark
