// Destinations on FUSE file systems that live inside the source: ntfs-3g and
// fusefat serving the source image, directly and through a loop device of
// it. The mount table names the image (ntfs-3g), the loop device (fuseblk),
// or only the driver (fusefat), so the rule must follow the mount source and
// what the driver holds open. Each case checks the refusal, its exit status
// and that the source keeps every byte.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

const char kDestOnSource[] = "Dest folder can't be on source drive!";
const char kImageOnSource[] = "Can't save IMG file on source drive!";
const char kUntraced[] = "Can't tell where this FUSE file system keeps its files";

std::string Cli(const std::string& prefix, const std::string& args, int* status) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " + prefix + VELLUMARK_CLI " " + args + " 2>&1", status);
}

// A FUSE mount, unmounted (and its loop device detached) at the end.
class FuseMount {
 public:
  // command: the driver's command line without the mount point.
  FuseMount(const std::string& command, const std::string& where) : where_(where) {
    fs::create_directories(where);
    mounted_ = test::Run(command + " " + where + " >/dev/null 2>&1") == 0;
  }
  ~FuseMount() {
    if (mounted_) test::Run("fusermount -u " + where_ + " 2>/dev/null || umount " + where_);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string where_;
  bool mounted_ = false;
};

struct Driver {
  const char* name;
  const char* tool;
  const char* mkfs;    // makes the file system in the image given after it
  const char* mount;   // mounts the image or device given after it
};

const Driver kDrivers[] = {
    {"ntfs-3g", "ntfs-3g", "mkntfs -F -q -f", "ntfs-3g"},
    {"fusefat", "fusefat", "mkfs.vfat", "fusefat -o rw+"},
};

class FuseDestination : public ::testing::Test {
 protected:
  void SetUp() override {
    VELLUMARK_REQUIRE(::geteuid() == 0, "root");
    VELLUMARK_REQUIRE(fs::exists("/dev/fuse"), "/dev/fuse");
    VELLUMARK_REQUIRE(fs::exists("/dev/loop-control") && test::HaveTool("losetup"), "loop devices");
    VELLUMARK_REQUIRE_TOOL("ntfs-3g");
    VELLUMARK_REQUIRE_TOOL("mkntfs");
    VELLUMARK_REQUIRE_TOOL("fusefat");
    VELLUMARK_REQUIRE_TOOL("mkfs.vfat");
    VELLUMARK_REQUIRE_TOOL("fusermount");
    document = test::ReadFileBytes(std::string(VELLUMARK_CORPUS_DIR) + "/doc/52117.doc");
    VELLUMARK_REQUIRE(!document.empty(), "the document corpus");
    fs::create_directory(elsewhere);
  }

  // A 16 MiB image of the driver's file system holding a Word document.
  void MakeImage(const Driver& driver) {
    ASSERT_EQ(test::Run("truncate -s 16M " + image), 0);
    ASSERT_EQ(test::Run(std::string(driver.mkfs) + " " + image + " >/dev/null 2>&1"), 0) << driver.mkfs;
    test::WriteFileBytes(dir / "kept.doc", document);
    const FuseMount mount(std::string(driver.mount) + " " + image, dir / "fill");
    ASSERT_TRUE(mount.mounted()) << driver.name;
    ASSERT_EQ(test::Run("cp " + (dir / "kept.doc") + " " + (dir / "fill") + "/ && sync"), 0);
  }

  // Every way of writing into the mount is refused with its message and
  // status 2, and the source keeps its bytes.
  void ExpectRefused(const std::string& source, const std::string& mountPoint, const std::string& trace,
                     const std::string& prefix = "", const char* folderMessage = kDestOnSource,
                     const char* imageMessage = kImageOnSource) {
    SCOPED_TRACE(trace);
    fs::create_directories(mountPoint + "/out");
    ASSERT_EQ(test::Run("sync"), 0);
    const Bytes before = test::ReadFileBytes(image);
    const struct {
      std::string args;
      const char* message;
    } runs[] = {
        {"rescue " + source + " " + mountPoint + "/out", folderMessage},
        {"rescue " + source + " " + elsewhere + " --report " + mountPoint + "/report.csv", folderMessage},
        {"backup " + source + " " + mountPoint + "/self.img --yes", imageMessage},
    };
    for (const auto& run : runs) {
      int status = -1;
      const std::string printed = Cli(prefix, run.args, &status);
      EXPECT_NE(printed.find(run.message), std::string::npos) << run.args << "\n" << printed;
      EXPECT_EQ(status, 2) << run.args << "\n" << printed;
    }
    EXPECT_TRUE(fs::is_empty(mountPoint + "/out"));
    EXPECT_FALSE(fs::exists(mountPoint + "/report.csv"));
    EXPECT_FALSE(fs::exists(mountPoint + "/self.img"));
    EXPECT_FALSE(fs::exists(mountPoint + "/self.img.map"));
    EXPECT_TRUE(fs::is_empty(elsewhere));
    ASSERT_EQ(test::Run("sync"), 0);
    EXPECT_TRUE(test::ReadFileBytes(image) == before) << "the source image changed";
  }

  test::TempDir dir;
  const std::string image = dir / "disk.img";
  const std::string elsewhere = dir / "elsewhere";
  Bytes document;
};

TEST_F(FuseDestination, MountedFromTheSourceImageIsRefused) {
  for (const Driver& driver : kDrivers) {
    MakeImage(driver);
    const FuseMount mount(std::string(driver.mount) + " " + image, dir / "mnt");
    ASSERT_TRUE(mount.mounted()) << driver.name;
    ExpectRefused(image, dir / "mnt", std::string(driver.name) + " on the image file");
  }
}

TEST_F(FuseDestination, MountedFromALoopDeviceOfTheSourceIsRefused) {
  for (const Driver& driver : kDrivers) {
    MakeImage(driver);
    const test::LoopDevice loop(image);
    ASSERT_FALSE(loop.path().empty()) << "no loop device could be attached";
    {
      const FuseMount mount(std::string(driver.mount) + " " + loop.path(), dir / "mnt");
      ASSERT_TRUE(mount.mounted()) << driver.name;
      // The source read as the image file, and as the loop device itself.
      ExpectRefused(image, dir / "mnt", std::string(driver.name) + " on a loop device, source the image");
      ExpectRefused(loop.path(), dir / "mnt", std::string(driver.name) + " on a loop device, source the device");
    }
  }
}

// The driver out of sight: the tool run in a process namespace of its own,
// with its own /proc, sees the mount but not the process serving it. A mount
// that names only its driver is then refused as untraceable; one that names
// the image is still traced through its mount source.
TEST_F(FuseDestination, AMountWhoseDriverCannotBeSeenIsRefused) {
  VELLUMARK_REQUIRE_TOOL("unshare");
  const std::string unshare = "unshare --pid --fork --mount-proc ";
  for (const Driver& driver : kDrivers) {
    MakeImage(driver);
    const FuseMount mount(std::string(driver.mount) + " " + image, dir / "mnt");
    ASSERT_TRUE(mount.mounted()) << driver.name;
    const bool namesTheImage = std::string(driver.name) == "ntfs-3g";
    ExpectRefused(image, dir / "mnt", std::string(driver.name) + " with its driver out of sight", unshare,
                  namesTheImage ? kDestOnSource : kUntraced, namesTheImage ? kImageOnSource : kUntraced);
    // A folder elsewhere is still fine there.
    int status = -1;
    const std::string printed = Cli(unshare, "rescue " + image + " " + elsewhere, &status);
    EXPECT_EQ(status, 0) << printed;
    fs::remove_all(elsewhere);
    fs::create_directory(elsewhere);
  }
}

// Beside the image, on the disk that holds it, is not the source.
TEST_F(FuseDestination, AFolderBesideTheMountedImageIsAccepted) {
  MakeImage(kDrivers[1]);
  const FuseMount mount(std::string(kDrivers[1].mount) + " " + image, dir / "mnt");
  ASSERT_TRUE(mount.mounted());
  int status = -1;
  const std::string printed = Cli("", "rescue " + image + " " + elsewhere, &status);
  EXPECT_EQ(status, 0) << printed;
  EXPECT_TRUE(fs::exists(elsewhere + "/rescue-report.csv"));
}

}  // namespace
}  // namespace vellumark
