// The source is only read, whatever it is: a write-protected image keeps its
// bytes and time stamp through rescue, dump and backup; a source that shrinks
// under the program or is larger than 2^32 sectors is handled.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "rescue/carve_services.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

std::string Cli(const std::string& args, int* status) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " 2>/dev/null", status);
}

TEST(SourceSafety, WriteProtectedImageIsNeverChanged) {
  test::TempDir dir;
  const std::string img = dir / "disk.img";
  auto bytes = test::PatternBytes(2 << 20);
  const std::string document = std::string(VELLUMARK_CORPUS_DIR) + "/doc/52117.doc";
  if (fs::exists(document)) {
    const auto doc = test::ReadFileBytes(document);
    std::copy(doc.begin(), doc.end(), bytes.begin() + 100 * 512);
  }
  test::WriteFileBytes(img, bytes);
  ASSERT_EQ(::chmod(img.c_str(), 0444), 0);
  struct stat before {};
  ASSERT_EQ(::stat(img.c_str(), &before), 0);
  fs::create_directory(dir / "out");

  int status = -1;
  Cli("rescue " + img + " " + (dir / "out"), &status);
  EXPECT_EQ(status, 0);
  Cli("dump " + img + " 100", &status);
  EXPECT_EQ(status, 0);
  Cli("backup " + img + " " + (dir / "copy.img"), &status);
  EXPECT_EQ(status, 0);

  struct stat after {};
  ASSERT_EQ(::stat(img.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_mode & 0777, 0444u);
  EXPECT_TRUE(test::ReadFileBytes(img) == bytes);
  EXPECT_TRUE(test::ReadFileBytes(dir / "copy.img") == bytes);
}

TEST(SourceSafety, SourceThatShrinksReportsItsLostSectorsUndelivered) {
  test::TempDir dir;
  const std::string img = dir / "disk.img";
  test::WriteFileBytes(img, test::PatternBytes(1 << 20));
  SectorSource source(std::make_unique<PosixPlatformSource>());
  ASSERT_TRUE(source.OpenImageFile(img).ok());
  fs::resize_file(img, 300 * 1024);  // after opening: the geometry still says 1 MiB
  std::vector<std::uint8_t> buffer(512);
  EXPECT_EQ(source.ReadSectors(buffer.data(), 512, 1500 * 512), 512);  // a short read is no read
  EXPECT_FALSE(source.ReadDirect(buffer.data(), 512, 1500 * 512));
  EXPECT_EQ(source.ReadSectors(buffer.data(), 512, 10 * 512), 0);
}

TEST(SourceSafety, SourceOfMoreThan2To32SectorsScansNearItsEnd) {
  const std::string document = std::string(VELLUMARK_CORPUS_DIR) + "/doc/52117.doc";
  if (!fs::exists(document)) VELLUMARK_CANNOT_RUN("no document corpus");
  test::TempDir dir;
  const std::string img = dir / "huge.img";
  const std::int64_t sectors = (std::int64_t{1} << 32) + 4096;
  const std::int64_t at = sectors - 1000;  // the document's first sector
  std::ofstream(img, std::ios::binary).close();
  std::error_code error;
  fs::resize_file(img, static_cast<std::uintmax_t>(sectors) * 512, error);  // sparse: 2 TiB, no blocks
  if (error) VELLUMARK_CANNOT_RUN("this file system holds no 2 TiB file: " << error.message());
  ASSERT_EQ(test::Run("dd if=" + document + " of=" + img + " bs=512 seek=" + std::to_string(at) +
                      " conv=notrunc status=none"),
            0);
  int status = -1;
  const std::string info = Cli("info " + img, &status);
  EXPECT_NE(info.find("LastSector: " + std::to_string(sectors - 1) + "\n"), std::string::npos) << info;
  EXPECT_NE(info.find("FileSystemType: OTHER\n"), std::string::npos);

  fs::create_directory(dir / "out");
  EXPECT_EQ(Cli("rescue " + img + " " + (dir / "out") + " --first " + std::to_string(sectors - 2000), &status),
            "Rescued file 1\n");
  // The name holds the offset in 512-byte units, of which only v mod 36^7 shows.
  const std::string name = OutputName((dir / "out") + "/", at * 512, ".DOC");
  EXPECT_EQ(Base36Name(at), Base36Name(at % 78'364'164'096));
  EXPECT_TRUE(test::ReadFileBytes(name) == test::ReadFileBytes(document)) << name;
}

}  // namespace
}  // namespace vellumark
