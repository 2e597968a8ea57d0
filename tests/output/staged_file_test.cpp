// Files that take their names only when complete, both ways of staging them
// (nameless where the file system allows, hidden names where it does not),
// and the lock that keeps a destination folder to one run.
#include "output/staged_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "output/folder_lock.h"
#include "support/fixtures.h"

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

}  // namespace
}  // namespace vellumark
