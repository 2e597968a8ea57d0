#include "formats/compound/compound_walk.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "formats/compound/compound_chain.h"
#include "formats/compound/compound_layout.h"
#include "support/fixtures.h"

namespace vellumark::compound {
namespace {

using Bytes = std::vector<std::uint8_t>;
const std::string kCorpus = VELLUMARK_CORPUS_DIR;
constexpr std::int64_t kLargest = 104'857'600;


void Put32(Bytes& b, std::uint64_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::uint32_t Get32(const Bytes& b, std::uint64_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

struct Walked {
  WalkStep step;
  std::int64_t fileBytes = 0;
  std::vector<std::uint8_t> directory;
  std::int64_t read = 0;  // the most bytes the walk was handed
};

// Hands the walk the bytes it asks for, as a carve attempt loads them.
Walked WalkPieceByPiece(const Bytes& file) {
  CompoundWalk walk(kLargest);
  Walked walked;
  walked.step = walk.Step(ByteView(file.data(), 0));
  while (walked.step.step == ZipStep::NeedBytes && walked.step.need <= static_cast<std::int64_t>(file.size())) {
    walked.read = std::max(walked.read, walked.step.need);
    walked.step = walk.Step(ByteView(file.data(), static_cast<std::size_t>(walked.read)));
  }
  walked.fileBytes = walk.FileBytes();
  walked.directory = walk.Directory();
  return walked;
}

// Every compound file of the corpus walks to its own length, reading no
// byte past it, and its kind comes from its directory.
TEST(CompoundWalk, CorpusFilesWalkToTheirLengthAndKind) {
  const struct {
    const char* name;
    DocumentKind kind;
  } cases[] = {
      {"doc/52117.doc", DocumentKind::Word},       {"doc/47304.doc", DocumentKind::Word},
      {"doc/Bug47958.doc", DocumentKind::Word},    {"xls/53446.xls", DocumentKind::Excel},
      {"ppt/Test_Humor-Generation.ppt", DocumentKind::PowerPoint},
  };
  for (const auto& c : cases) {
    const std::string path = kCorpus + "/" + c.name;
    if (!std::filesystem::exists(path)) VELLUMARK_CANNOT_RUN("corpus file missing: " << path);
    const Bytes file = test::ReadFileBytes(path);
    const Walked walked = WalkPieceByPiece(file);
    ASSERT_EQ(walked.step.step, ZipStep::Done) << c.name << ": " << walked.step.fault;
    EXPECT_EQ(walked.fileBytes, static_cast<std::int64_t>(file.size())) << c.name;
    EXPECT_LE(walked.read, static_cast<std::int64_t>(file.size())) << c.name;
    EXPECT_EQ(CompoundKindOf(ByteView(walked.directory.data(), walked.directory.size())), c.kind) << c.name;
  }
}

// A damaged header or chain breaks the walk where it shows, whatever the
// walk was handed before.
TEST(CompoundWalk, DamageBreaksTheWalk) {
  const std::string path = kCorpus + "/doc/52117.doc";
  if (!std::filesystem::exists(path)) VELLUMARK_CANNOT_RUN("corpus file missing: " << path);
  const Bytes original = test::ReadFileBytes(path);
  const std::uint32_t firstFat = Get32(original, header::kFatSectorList);
  const std::uint32_t firstDirectory = Get32(original, header::kFirstDirectorySector);
  const struct {
    const char* what;
    void (*damage)(Bytes&, std::uint32_t fat, std::uint32_t directory);
    const char* fault;
  } cases[] = {
      {"signature", [](Bytes& f, std::uint32_t, std::uint32_t) { f[0] = 0; }, "signature"},
      {"byte order", [](Bytes& f, std::uint32_t, std::uint32_t) { Put32(f, header::kByteOrder, 0x000CFFFE); },
       "512-byte"},
      {"FAT listed twice",
       [](Bytes& f, std::uint32_t fat, std::uint32_t) {
         Put32(f, header::kFatSectorList + 4, fat);
       },
       "listed twice"},
      {"FAT sector past the largest file",
       [](Bytes& f, std::uint32_t, std::uint32_t) { Put32(f, header::kFatSectorList, 204'799); }, "largest file"},
      {"directory loops on itself",
       [](Bytes& f, std::uint32_t fat, std::uint32_t directory) {
         Put32(f, SectorOffset(fat) + 4 * directory, directory);
       },
       "loops"},
      {"directory past the largest file",
       [](Bytes& f, std::uint32_t fat, std::uint32_t directory) {
         Put32(f, SectorOffset(fat) + 4 * directory, 0x00FFFFFF);
       },
       "largest file"},
      {"DIFAT loops",
       [](Bytes& f, std::uint32_t, std::uint32_t) {
         // The file's last sector made a DIFAT sector that lists nothing and
         // links to itself.
         const auto last = static_cast<std::uint32_t>(f.size() / kSectorSize - 2);
         for (std::size_t k = 0; k < kWordsPerSector; ++k) Put32(f, SectorOffset(last) + 4 * k, kFree);
         Put32(f, SectorOffset(last) + difat::kNextSector, last);
         Put32(f, header::kFirstDifatSector, last);
       },
       "loops"},
  };
  for (const auto& c : cases) {
    Bytes file = original;
    c.damage(file, firstFat, firstDirectory);
    const Walked walked = WalkPieceByPiece(file);
    EXPECT_EQ(walked.step.step, ZipStep::Broken) << c.what;
    EXPECT_NE(walked.step.fault.find(c.fault), std::string::npos) << c.what << ": " << walked.step.fault;
  }
}

// A header alone asks for the first FAT sector, no more: a walk that fails
// early must cost only what it read.
TEST(CompoundWalk, AsksOnlyForTheSectorItNeedsNext) {
  const std::string path = kCorpus + "/doc/52117.doc";
  if (!std::filesystem::exists(path)) VELLUMARK_CANNOT_RUN("corpus file missing: " << path);
  const Bytes file = test::ReadFileBytes(path);
  CompoundWalk walk(kLargest);
  EXPECT_EQ(walk.Step(ByteView(file.data(), 100)).need, 512);
  const WalkStep step = walk.Step(ByteView(file.data(), 512));
  ASSERT_EQ(step.step, ZipStep::NeedBytes);
  EXPECT_EQ(step.need, static_cast<std::int64_t>(SectorOffset(Get32(file, header::kFatSectorList)) + 512));
}

TEST(CompoundChain, EndsAtTheMarkALoopTheTableOrTheLimit) {
  // Sector:                       0  1  2           3  4  5
  const std::vector<std::uint32_t> table{1, 2, kEndOfChain, 4, 3, 9};
  const struct {
    std::uint32_t start;
    std::size_t limit;
    std::vector<std::uint32_t> sectors;
    ChainEnd end;
  } cases[] = {
      {0, 10, {0, 1, 2}, ChainEnd::EndOfChain},
      {0, 3, {0, 1, 2}, ChainEnd::EndOfChain},
      {0, 2, {0, 1}, ChainEnd::Limit},
      {3, 10, {3, 4}, ChainEnd::Loop},
      {5, 10, {5}, ChainEnd::LeavesTable},
      {kFree, 10, {}, ChainEnd::LeavesTable},
      {kEndOfChain, 10, {}, ChainEnd::EndOfChain},
  };
  for (const auto& c : cases) {
    const ChainWalk walk = FollowChain(table, c.start, c.limit);
    EXPECT_EQ(walk.sectors, c.sectors) << c.start << " limit " << c.limit;
    EXPECT_EQ(walk.end, c.end) << c.start << " limit " << c.limit;
  }
}

}  // namespace
}  // namespace vellumark::compound
