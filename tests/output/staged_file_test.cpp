// Files that take their names only when complete, both ways of staging them
// (nameless where the file system allows, hidden names where it does not),
// and the lock that keeps a destination folder to one run.
#include "output/staged_file.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "output/folder_lock.h"
#include "support/fixtures.h"

namespace {
// Run once, right before the next flock(2) of this program: where a test
// puts what another run does between a lock file's opening and its locking.
std::function<void()> beforeNextFlock;
}  // namespace

// Stands in for the C library's flock in this test program, so that the
// moment between the two steps of taking a folder's lock can be chosen.
extern "C" int flock(int fd, int operation) {
  if (beforeNextFlock) std::exchange(beforeNextFlock, nullptr)();
  static const auto real = reinterpret_cast<int (*)(int, int)>(::dlsym(RTLD_NEXT, "flock"));
  return real(fd, operation);
}

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class StagedFileTest : public ::testing::TestWithParam<StagedFile::Staging> {
 protected:
  StagedFile Make(const Bytes& bytes) {
    auto file = StagedFile::Create(dir.path().string(), GetParam());
    EXPECT_TRUE(file.has_value());
    EXPECT_TRUE(file->Append(bytes.data(), bytes.size()));
    return std::move(*file);
  }
  test::TempDir dir;
};

TEST_P(StagedFileTest, NothingShowsUntilPublishedAndNothingStaysWhenDropped) {
  const Bytes bytes = test::PatternBytes(4096);
  {
    StagedFile file = Make(bytes);
    if (GetParam() == StagedFile::Staging::Nameless) {
      EXPECT_TRUE(Names(dir.path()).empty());
    }
  }
  EXPECT_TRUE(Names(dir.path()).empty());
}

TEST_P(StagedFileTest, KeepingOthersNumbersAroundWhatIsThereAndAdoptsTheSameBytes) {
  const Bytes first = test::PatternBytes(2048, 1);
  const Bytes second = test::PatternBytes(2048, 2);
  const std::string name = dir / "image.img";
  EXPECT_EQ(Make(first).PublishKeepingOthers(name), name);
  EXPECT_EQ(Make(second).PublishKeepingOthers(name), dir / "image-2.img");
  EXPECT_EQ(Make(first).PublishKeepingOthers(name), name);                 // the same bytes: the same file
  EXPECT_EQ(Make(second).PublishKeepingOthers(name), dir / "image-2.img");  // found again under its number
  EXPECT_EQ(Make(Bytes(10, 1)).PublishKeepingOthers(name), dir / "image-3.img");
  EXPECT_EQ(test::ReadFileBytes(name), first);
  EXPECT_EQ(test::ReadFileBytes(dir / "image-2.img"), second);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"image-2.img", "image-3.img", "image.img"}));
}

TEST_P(StagedFileTest, APrefixOrAnExtensionOfWhatIsThereIsNotTheSameFile) {
  const Bytes whole = test::PatternBytes(4096, 6);
  const std::string name = dir / "doc.doc";
  test::WriteFileBytes(name, whole);
  EXPECT_EQ(Make(Bytes(whole.begin(), whole.begin() + 1000)).PublishKeepingOthers(name), dir / "doc-2.doc");
  Bytes longer = whole;
  longer.push_back(0);
  EXPECT_EQ(Make(longer).PublishKeepingOthers(name), dir / "doc-3.doc");
  EXPECT_EQ(test::ReadFileBytes(name), whole);
  EXPECT_EQ(test::ReadFileBytes(dir / "doc-2.doc").size(), 1000u);
}

TEST_P(StagedFileTest, ReplacingReplacesALinkNotItsTarget) {
  const std::string target = dir / "precious.img";
  const Bytes precious = test::PatternBytes(1024, 3);
  test::WriteFileBytes(target, precious);
  fs::create_symlink(target, dir / "backup.img");
  const Bytes bytes = test::PatternBytes(3000, 4);
  EXPECT_TRUE(Make(bytes).PublishReplacing(dir / "backup.img"));
  EXPECT_FALSE(fs::is_symlink(dir / "backup.img"));
  EXPECT_EQ(test::ReadFileBytes(dir / "backup.img"), bytes);
  EXPECT_EQ(test::ReadFileBytes(target), precious);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"backup.img", "precious.img"}));
}

// A name that became a pipe or a folder after it was checked: the last
// look before the rename leaves it as it is and drops nothing but the copy.
TEST_P(StagedFileTest, ReplacingNeverRenamesOverAPipeOrAFolder) {
  ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
  fs::create_directory(dir / "folder.csv");
  const struct { const char* name; int error; } cases[] = {{"pipe.csv", EEXIST}, {"folder.csv", EISDIR}};
  for (const auto& c : cases) {
    errno = 0;
    EXPECT_FALSE(Make(test::PatternBytes(100)).PublishReplacing(dir / c.name)) << c.name;
    EXPECT_EQ(errno, c.error) << c.name;
  }
  EXPECT_TRUE(fs::is_fifo(dir / "pipe.csv"));
  EXPECT_TRUE(fs::is_empty(dir / "folder.csv"));
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"folder.csv", "pipe.csv"}));
}

TEST_P(StagedFileTest, WritesAtOffsetsIntoAReservedLength) {
  StagedFile file = *StagedFile::Create(dir.path().string(), GetParam());
  ASSERT_TRUE(file.Reserve(8192));
  const Bytes tail = test::PatternBytes(512, 5);
  ASSERT_TRUE(file.WriteAt(tail.data(), tail.size(), 8192 - 512));
  ASSERT_TRUE(file.Flush());
  ASSERT_TRUE(file.PublishReplacing(dir / "x.img"));
  const Bytes written = test::ReadFileBytes(dir / "x.img");
  ASSERT_EQ(written.size(), 8192u);
  EXPECT_EQ(Bytes(written.end() - 512, written.end()), tail);
  EXPECT_EQ(written[0], 0);
}

INSTANTIATE_TEST_SUITE_P(BothStagings, StagedFileTest,
                         ::testing::Values(StagedFile::Staging::Nameless, StagedFile::Staging::Hidden));

TEST(StagedFileNames, NumberGoesBeforeTheExtension) {
  const struct { const char* path; int n; const char* numbered; } cases[] = {
      {"/d/TEST_00001KW.DOC", 2, "/d/TEST_00001KW-2.DOC"},
      {"/d.x/report", 3, "/d.x/report-3"},        // a dot in the folder is no extension
      {"/d/.hidden", 2, "/d/.hidden-2"},
      {"a.tar.gz", 4, "a.tar-4.gz"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberedName(c.path, c.n), c.numbered);
}

// When this process started, as /proc/self/stat's 22nd field says.
std::string OwnStart() {
  std::ifstream in("/proc/self/stat");
  std::string stat;
  std::getline(in, stat);
  std::istringstream fields(stat.substr(stat.rfind(')') + 1));
  std::string field;
  for (int i = 3; i <= 22; ++i) fields >> field;
  return field;
}

TEST(StagedFileLeftovers, OnlyTheHiddenFilesOfRunsThatDiedAreRemoved) {
  test::TempDir dir;
  const std::string pid = std::to_string(::getpid());
  const std::string start = OwnStart();
  const std::string wrongStart = std::to_string(std::stoull(start) + 1);
  const struct { std::string name; bool removed; } cases[] = {
      {".vellumark-" + pid + "-" + start + "-0-123.partial", false},       // this live run's
      {".vellumark-" + pid + "-" + wrongStart + "-1-5.partial", true},    // an earlier process of this PID
      {".vellumark-999999999-" + start + "-2-7.partial", true},           // a process that is gone
      {".vellumark-" + pid + "-" + start + "-3.partial", false},          // not a name this program makes
      {".vellumark-" + pid + "-" + wrongStart + "-1-5.part", false},
      {"vellumark-" + pid + "-" + wrongStart + "-1-5.partial", false},
      {"copy.img", false},
  };
  for (const auto& c : cases) test::WriteFileBytes(dir / c.name, Bytes(10, 1));
  // One live in another process: pid 1's, with its own start.
  std::ifstream initStat("/proc/1/stat");
  std::string initLine;
  std::getline(initStat, initLine);
  std::istringstream initFields(initLine.substr(initLine.rfind(')') + 1));
  std::string initStart;
  for (int i = 3; i <= 22; ++i) initFields >> initStart;
  const std::string initName = ".vellumark-1-" + initStart + "-0-1.partial";
  test::WriteFileBytes(dir / initName, Bytes(10, 1));
  // A directory of such a name is no file of a run.
  fs::create_directory(dir / (".vellumark-999999999-" + start + "-9-9.partial"));

  StagedFile::RemoveAbandoned(dir.path().string());
  for (const auto& c : cases) EXPECT_EQ(fs::exists(dir / c.name), !c.removed) << c.name;
  EXPECT_TRUE(fs::exists(dir / initName));
  EXPECT_TRUE(fs::is_directory(dir / (".vellumark-999999999-" + start + "-9-9.partial")));
}

TEST(StagedFileLeftovers, AHiddenNameNamesItsProcessSoALiveRunKeepsIt) {
  test::TempDir dir;
  // A staged file under a hidden name (as on FAT) outlives a cleaning by
  // its own, live run, and goes when dropped.
  auto file = StagedFile::Create(dir.path().string(), StagedFile::Staging::Hidden);
  ASSERT_TRUE(file.has_value());
  const auto names = Names(dir.path());
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(names[0].rfind(".vellumark-" + std::to_string(::getpid()) + "-" + OwnStart() + "-", 0), 0u) << names[0];
  StagedFile::RemoveAbandoned(dir.path().string());
  EXPECT_EQ(Names(dir.path()), names);
  const Bytes bytes = test::PatternBytes(600, 7);
  ASSERT_TRUE(file->Append(bytes.data(), bytes.size()));
  ASSERT_TRUE(file->PublishReplacing(dir / "a.img"));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.img"});
}

TEST(FolderLock, OneRunAtATimeAndNoLockFileLeftBehind) {
  test::TempDir dir;
  FolderLock first;
  ASSERT_EQ(first.Acquire(dir.path().string()), FolderLock::Outcome::Locked);
  FolderLock second;
  EXPECT_EQ(second.Acquire(dir.path().string()), FolderLock::Outcome::Busy);
  EXPECT_FALSE(second.Held());
  first.Release();
  EXPECT_TRUE(Names(dir.path()).empty());
  EXPECT_EQ(second.Acquire(dir.path().string()), FolderLock::Outcome::Locked);
  EXPECT_EQ(FolderLock().Acquire(dir / "missing"), FolderLock::Outcome::Failed);
}

// Three runs race for one folder: the second opens the lock file just before
// the first, done, removes it, and the third makes and locks a new one. The
// second then locks a file that no longer has the name; it must see that
// and find the folder busy, or two runs would write into it at once.
TEST(FolderLock, ARunThatLocksAFileJustReplacedFindsTheFolderBusy) {
  test::TempDir dir;
  FolderLock first;
  ASSERT_EQ(first.Acquire(dir.path().string()), FolderLock::Outcome::Locked);
  FolderLock second;
  FolderLock third;
  beforeNextFlock = [&] {
    first.Release();
    EXPECT_EQ(third.Acquire(dir.path().string()), FolderLock::Outcome::Locked);
  };
  EXPECT_EQ(second.Acquire(dir.path().string()), FolderLock::Outcome::Busy);
  EXPECT_FALSE(beforeNextFlock);
  EXPECT_FALSE(second.Held());
  EXPECT_TRUE(third.Held());
  third.Release();
  EXPECT_EQ(second.Acquire(dir.path().string()), FolderLock::Outcome::Locked);
}

}  // namespace
}  // namespace vellumark
