// Memory running out in the middle of a run ends the program with a message
// and status 1, never an abort: a library preloaded into the program makes
// every allocation from a chosen size on fail, as on a starved machine.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

// A compound document's signature: its carving starts by taking a buffer of
// a megabyte, which is where the memory runs out, with the search done and
// the destination folder locked.
// A sanitizer's runtime must be the first library a program loads, so the
// sanitized build has no such test rather than one that is always skipped.
#if VELLUMARK_CAN_PRELOAD
TEST(CliOutOfMemory, RunEndsWithAMessageAndStatusOneAndLeavesTheFolderClean) {
  test::TempDir dir;
  std::vector<std::uint8_t> image(256 * 512);
  const std::uint8_t ole[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(std::begin(ole), std::end(ole), image.begin() + 40 * 512);
  test::WriteFileBytes(dir / "disk.img", image);
  fs::create_directory(dir / "out");

  const std::string run = "LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " rescue " + (dir / "disk.img") + " " +
                          (dir / "out");
  int status = -1;
  EXPECT_EQ(test::RunOutput(run + " 2>/dev/null", &status), "Rescued file 0\n");  // without the limit
  EXPECT_EQ(status, 0);
  fs::remove_all(dir / "out");
  fs::create_directory(dir / "out");

  const std::string starved = "LD_PRELOAD=" VELLUMARK_FAILING_NEW " VELLUMARK_FAIL_NEW_FROM=1000000 ";
  const std::string out = test::RunOutput(starved + run + " 2>" + (dir / "err"), &status);
  const auto err = test::ReadFileBytes(dir / "err");
  const std::string errText(err.begin(), err.end());
  EXPECT_EQ(status, 1) << errText;
  EXPECT_EQ(out, "");  // no count of a run that did not finish
  EXPECT_NE(errText.find("Out of memory! The operation was stopped.\n"), std::string::npos) << errText;
  EXPECT_EQ(errText.find("terminate"), std::string::npos) << errText;
  // The run unwound: the folder lock is gone and nothing else was left.
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

#endif

}  // namespace
}  // namespace vellumark
