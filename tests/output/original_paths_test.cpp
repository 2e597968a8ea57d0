// Original names from a volume's records become paths below the save
// folder: whatever the names hold, nothing lands outside it, and a name
// already taken is numbered rather than replaced.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "output/original_paths.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

TEST(OriginalPaths, NamesFromRecordsStayBelowTheFolder) {
  struct Case {
    const char* folder;
    const char* name;
    const char* path;
  };
  const std::vector<Case> cases = {
      {"", "Bericht.doc", "Bericht.doc"},
      {"Akten/2024", "Bericht März.doc", "Akten/2024/Bericht März.doc"},
      {"../../etc", "passwd", "etc/passwd"},
      {"/abs/olute", "x.doc", "abs/olute/x.doc"},
      {"a/./b/../c", "y.doc", "a/b/c/y.doc"},
      {"", "../up.doc", "up.doc"},
      {"", "sub/dir.doc", "sub_dir.doc"},       // a name is one name
      {"C:\\Users\\Ann", "a.doc", "C_/Users/Ann/a.doc"},
      {"", "what?<>|*\".doc", "what______.doc"},
      {"", "tab\there\x01.doc", "tab_here_.doc"},
      {"trailing. ", "dots...", "trailing/dots"},
      {"", "..", "_"},
      {"", "", "_"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SafeRelativePath(c.folder, c.name), c.path) << c.folder << " | " << c.name;
  }
  // A long name is cut at 200 bytes, never inside a character.
  std::string longName;
  for (int i = 0; i < 150; ++i) longName += "ä";
  const std::string cut = SafeRelativePath("", longName);
  EXPECT_LE(cut.size(), 200u);
  EXPECT_EQ(cut.size() % 2, 0u);
}

TEST(OriginalPaths, MovedFilesAreNumberedAndNeverFollowLinks) {
  test::TempDir dir;
  const fs::path out = dir.path() / "out";
  fs::create_directory(out);
  const auto written = [&](const std::string& name, const std::string& text) {
    test::WriteFileBytes((out / name).string(), std::vector<std::uint8_t>(text.begin(), text.end()));
    return (out / name).string();
  };
  const std::string folder = out.string() + "/";
  const auto first = MoveToOriginalPath(written("TEST_0000001.DOC", "one"), folder, "Akten/Bericht.doc");
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, folder + "Akten/Bericht.doc");
  EXPECT_FALSE(fs::exists(out / "TEST_0000001.DOC"));
  const auto second = MoveToOriginalPath(written("TEST_0000002.DOC", "two"), folder, "Akten/Bericht.doc");
  ASSERT_TRUE(second);
  EXPECT_EQ(*second, folder + "Akten/Bericht-2.doc");
  EXPECT_EQ(test::ReadFileBytes(*first), (std::vector<std::uint8_t>{'o', 'n', 'e'}));

  // A link planted where a folder would be made: the file stays put.
  fs::create_directory(dir.path() / "elsewhere");
  fs::create_directory_symlink(dir.path() / "elsewhere", out / "Planted");
  const std::string third = written("TEST_0000003.DOC", "three");
  EXPECT_FALSE(MoveToOriginalPath(third, folder, "Planted/x.doc"));
  EXPECT_TRUE(fs::exists(third));
  EXPECT_TRUE(fs::is_empty(dir.path() / "elsewhere"));
}

}  // namespace
}  // namespace vellumark
