// Where vellumark-cli may write, tried as a hostile or unlucky user would:
// destinations that reach the source through links, loop devices and stacked
// file systems, folders that already hold files of the output names, a second
// run, a full disk, and a run ended by a signal. Every case checks that the
// source keeps its bytes and its modification time.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "output/folder_lock.h"
#include "output/staged_file.h"
#include "rescue/carve_services.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kDocumentSector = 100;
const char kImageOnSource[] = "Can't save IMG file on source drive!";
const char kDestOnSource[] = "Dest folder can't be on source drive!";

// Runs the tool in English; returns what it printed on both streams.
std::string Cli(const std::string& args, int* status) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " 2>&1", status);
}

Bytes Document() { return test::ReadFileBytes(std::string(VELLUMARK_CORPUS_DIR) + "/doc/52117.doc"); }

// A file's bytes and modification time, to see that nothing touched it.
class Untouched {
 public:
  explicit Untouched(std::string path) : path_(std::move(path)), bytes_(test::ReadFileBytes(path_)) {
    ::stat(path_.c_str(), &before_);
  }
  void Check() const {
    struct stat after {};
    ASSERT_EQ(::stat(path_.c_str(), &after), 0) << path_;
    EXPECT_EQ(after.st_mtim.tv_sec, before_.st_mtim.tv_sec) << path_;
    EXPECT_EQ(after.st_mtim.tv_nsec, before_.st_mtim.tv_nsec) << path_;
    EXPECT_EQ(after.st_mode, before_.st_mode) << path_;
    EXPECT_TRUE(test::ReadFileBytes(path_) == bytes_) << path_ << " changed";
  }

 private:
  std::string path_;
  Bytes bytes_;
  struct stat before_ {};
};

// 2 MiB of random sectors with a real Word document at sector 100.
class SourceImage : public ::testing::Test {
 protected:
  void SetUp() override {
    document = Document();
    if (document.empty()) VELLUMARK_CANNOT_RUN("no document corpus");
    Bytes bytes = test::PatternBytes(2 << 20);
    std::copy(document.begin(), document.end(), bytes.begin() + kDocumentSector * 512);
    test::WriteFileBytes(image, bytes);
    fs::create_directory(out);
  }
  std::string OutputIn(const std::string& folder, int number = 1) const {
    const std::string name = OutputName(folder + "/", kDocumentSector * 512, ".DOC");
    return number == 1 ? name : NumberedName(name, number);
  }

  test::TempDir dir;
  const std::string image = dir / "s.img";
  const std::string out = dir / "out";
  Bytes document;
};

TEST_F(SourceImage, BackupOntoTheSourceByAnyNameIsRefused) {
  fs::create_symlink(image, dir / "link.img");
  fs::create_hard_link(image, dir / "second-name.img");
  // Targets whose map (IMAGE.map beside them) would be the source.
  fs::create_symlink(image, dir / "map-link.img.map");
  fs::create_hard_link(image, dir / "map-name.img.map");
  const Untouched source(image);
  for (const std::string& target :
       {image, dir / "link.img", dir / "second-name.img", dir / "map-link.img", dir / "map-name.img"}) {
    int status = -1;
    EXPECT_NE(Cli("backup " + image + " " + target, &status).find(kImageOnSource), std::string::npos) << target;
    EXPECT_EQ(status, 2) << target;
    source.Check();
  }
  // A source that has the very name the map would take.
  fs::copy_file(image, dir / "self.img.map");
  const Untouched named(dir / "self.img.map");
  int status = -1;
  EXPECT_NE(Cli("backup " + (dir / "self.img.map") + " " + (dir / "self.img"), &status).find(kImageOnSource),
            std::string::npos);
  EXPECT_EQ(status, 2);
  named.Check();
  EXPECT_FALSE(fs::exists(dir / "self.img"));
}

TEST_F(SourceImage, OutputNamesThatLeadToTheSourceAreNumberedAround) {
  // A hard link, a symbolic link, and the source itself under the name a
  // rescued document would take.
  const struct { const char* how; } cases[] = {{"hard"}, {"symbolic"}, {"itself"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
    test::TempDir run;
    std::string source = image;
    const std::string name = OutputIn(run.path().string());
    if (std::string(c.how) == "hard") fs::create_hard_link(image, name);
    if (std::string(c.how) == "symbolic") fs::create_symlink(image, name);
    if (std::string(c.how) == "itself") fs::copy_file(image, source = name);
    const Untouched untouched(source);
    int status = -1;
    const std::string printed = Cli("rescue " + source + " " + run.path().string(), &status);
    EXPECT_EQ(status, 0) << printed;
    EXPECT_NE(printed.find("Rescued file 1"), std::string::npos) << printed;
    untouched.Check();
    EXPECT_TRUE(test::ReadFileBytes(OutputIn(run.path().string(), 2)) == document);
    const auto report = test::ReadFileBytes(run / "rescue-report.csv");
    EXPECT_NE(std::string(report.begin(), report.end()).find(fs::path(OutputIn("", 2)).filename().string()),
              std::string::npos);
  }
}

TEST_F(SourceImage, LinksPlantedInTheFolderAreNeverFollowed) {
  // As root a planted link would reach any file on the system.
  const std::string precious = dir / "precious";
  test::WriteFileBytes(precious, test::PatternBytes(4096, 9));
  ASSERT_EQ(::chmod(precious.c_str(), 0444), 0);
  fs::create_symlink(precious, OutputIn(out));
  fs::create_symlink(precious, out + "/rescue-report.csv");
  const Untouched untouched(precious);
  int status = -1;
  Cli("rescue " + image + " " + out, &status);
  EXPECT_EQ(status, 0);
  untouched.Check();
  EXPECT_TRUE(test::ReadFileBytes(OutputIn(out, 2)) == document);
  EXPECT_TRUE(fs::is_symlink(OutputIn(out)));
  EXPECT_TRUE(fs::exists(out + "/rescue-report-2.csv"));
}

TEST_F(SourceImage, ReportThatWouldReplaceTheSourceOrARescuedFileIsRefused) {
  const Untouched source(image);
  const struct { std::string report; const char* message; } cases[] = {
      {image, kDestOnSource},
      {OutputIn(out), "The report can't take the name of a rescued file!"},
      {OutputIn(out, 3), "The report can't take the name of a rescued file!"},
  };
  for (const auto& c : cases) {
    int status = -1;
    EXPECT_NE(Cli("rescue " + image + " " + out + " --report " + c.report, &status).find(c.message),
              std::string::npos)
        << c.report;
    EXPECT_EQ(status, 2);
    EXPECT_TRUE(fs::is_empty(out));
  }
  source.Check();
}

TEST_F(SourceImage, ASecondRunKeepsTheFirstRunsFiles) {
  int status = -1;
  Cli("rescue " + image + " " + out, &status);
  ASSERT_EQ(status, 0);
  const Untouched report(out + "/rescue-report.csv");
  // The same run again finds its own files and leaves them as they are.
  Cli("rescue " + image + " " + out, &status);
  EXPECT_EQ(status, 0);
  report.Check();
  EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 2);

  // A changed file of the name is someone's work: kept, and the document
  // and the report that names it go beside it.
  test::WriteFileBytes(OutputIn(out), Bytes(1000, 'x'));
  const Untouched changed(OutputIn(out));
  Cli("rescue " + image + " " + out, &status);
  EXPECT_EQ(status, 0);
  changed.Check();
  report.Check();
  EXPECT_TRUE(test::ReadFileBytes(OutputIn(out, 2)) == document);
  const auto second = test::ReadFileBytes(out + "/rescue-report-2.csv");
  EXPECT_NE(std::string(second.begin(), second.end()).find("TEST_000002S-2.DOC"), std::string::npos);
}

TEST_F(SourceImage, AFolderThatTakesNoFilesIsRefusedAtOnce) {
  // Found before the scan rather than after it, as an ordinary user: root
  // writes into read-only folders anyway.
  if (::geteuid() != 0 || !test::HaveTool("setpriv")) VELLUMARK_CANNOT_RUN("needs root to drop to another user");
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                           fs::perms::others_exec);
  ::chmod(image.c_str(), 0644);
  int status = -1;
  const std::string printed = test::RunOutput("LANG=C setpriv --reuid=65534 --regid=65534 --clear-groups " VELLUMARK_CLI
                                              " rescue " + image + " " + out + " 2>&1", &status);
  EXPECT_NE(printed.find("Can't write files to the dest folder!"), std::string::npos) << printed;
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(fs::is_empty(out));
}

TEST_F(SourceImage, ASecondRunAtTheSameTimeIsRefused) {
  FolderLock running;
  ASSERT_EQ(running.Acquire(out), FolderLock::Outcome::Locked);
  int status = -1;
  EXPECT_NE(Cli("rescue " + image + " " + out, &status).find("Another rescue is saving files to this folder!"),
            std::string::npos);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 1);  // the lock only
}

// A link planted where the folder's lock goes is never followed; the refusal
// names the lock file and why, since the folder itself takes files.
TEST_F(SourceImage, APlantedLockLinkIsRefusedWithItsReason) {
  const std::string precious = dir / "precious.txt";
  test::WriteFileBytes(precious, Bytes(100, 'p'));
  const Untouched target(precious);
  const std::string lock = out + "/" + FolderLock::kFileName;
  fs::create_symlink(precious, lock);
  int status = -1;
  EXPECT_EQ(Cli("rescue " + image + " " + out, &status),
            "Can't write files to the dest folder! " + lock + ": " + std::strerror(ELOOP) + "\n");
  EXPECT_EQ(status, 2);
  EXPECT_TRUE(fs::is_symlink(lock));
  EXPECT_EQ(std::distance(fs::directory_iterator(out), {}), 1);
  target.Check();
}

// Seconds a whole command takes.
double Seconds(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  test::Run(command);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Starts the command and sends it the signal after the given seconds.
void RunAndSignal(const std::string& command, const char* signal, double after) {
  char delay[32];
  std::snprintf(delay, sizeof delay, "%.3f", after);
  test::Run(command + " >/dev/null 2>&1 & sleep " + delay + "; kill -" + signal + " $! 2>/dev/null; wait $!");
}

// 64 MiB with a document every 256 KiB: enough work that a signal comes
// while there is some left.
class BusySource : public SourceImage {
 protected:
  void SetUp() override {
    SourceImage::SetUp();
    if (IsSkipped()) return;
    bytes = test::PatternBytes(64 << 20);
    for (std::size_t at = 0; at + document.size() < bytes.size(); at += 256 * 1024) {
      std::copy(document.begin(), document.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
      ++documents;
    }
    test::WriteFileBytes(image, bytes);
  }
  // Whatever carries a final name in folder is whole.
  void ExpectOnlyWholeFiles(const fs::path& folder, const std::string& trace) const {
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      SCOPED_TRACE(trace + ": " + name);
      if (IsOutputName(name)) {
        EXPECT_TRUE(test::ReadFileBytes(entry.path().string()) == document);
      } else if (name == "copy.img") {
        EXPECT_TRUE(test::ReadFileBytes(entry.path().string()) == bytes);
      } else if (name == "copy.img.map") {
        // Named only once whole: the copy finished, every byte copied.
        const Bytes map = test::ReadFileBytes(entry.path().string());
        const std::string text(map.begin(), map.end());
        char blocks[64];
        std::snprintf(blocks, sizeof blocks, "\n0x00000000  0x%08zX  +\n", bytes.size());
        EXPECT_NE(text.find("     +               1\n"), std::string::npos) << text;
        EXPECT_TRUE(text.ends_with(blocks)) << text;
        EXPECT_TRUE(fs::exists(folder / "copy.img")) << "a map without its image";
      } else {
        EXPECT_TRUE(name == "rescue-report.csv" || name == FolderLock::kFileName) << "left behind";
      }
    }
  }

  Bytes bytes;
  int documents = 0;
};

TEST_F(BusySource, TerminatedRunsStopCleanly) {
  const std::string rescue = VELLUMARK_CLI " rescue " + image + " ";
  const double whole = Seconds(rescue + out + " >/dev/null 2>&1");
  for (const char* signal : {"TERM", "HUP"}) {
    test::TempDir folder;
    RunAndSignal(rescue + folder.path().string(), signal, whole / 3);
    EXPECT_TRUE(fs::exists(folder / "rescue-report.csv")) << signal << ": the report is written on the way out";
    EXPECT_FALSE(fs::exists(folder / FolderLock::kFileName));
    ExpectOnlyWholeFiles(folder.path(), signal);
  }
  // A terminated backup is not kept: nobody is there to be asked.
  const std::string backup = VELLUMARK_CLI " backup " + image + " " + (dir / "copy.img");
  test::TempDir folder;
  RunAndSignal(VELLUMARK_CLI " backup " + image + " " + (folder / "copy.img"), "TERM",
               Seconds(backup + " >/dev/null 2>&1") / 3);
  ExpectOnlyWholeFiles(folder.path(), "backup");
}

TEST_F(BusySource, KilledAtAnyPointLeavesWholeFilesOrNone) {
  const std::string rescue = VELLUMARK_CLI " rescue " + image + " ";
  const std::string backup = VELLUMARK_CLI " backup " + image + " ";
  const double rescueSeconds = Seconds(rescue + out + " >/dev/null 2>&1");
  const double backupSeconds = Seconds(backup + (dir / "copy.img") + " >/dev/null 2>&1");
  std::mt19937 random(20261207);
  for (int run = 0; run < 40; ++run) {
    const bool isBackup = run % 2 == 1;
    test::TempDir folder;
    const double at = std::uniform_real_distribution<double>(0, 1.1)(random) * (isBackup ? backupSeconds : rescueSeconds);
    RunAndSignal((isBackup ? backup + (folder / "copy.img") : rescue + folder.path().string()), "KILL", at);
    ExpectOnlyWholeFiles(folder.path(), (isBackup ? "backup killed after " : "rescue killed after ") + std::to_string(at));
  }
}

// --- Block devices: run as root, with loop devices and mounts. -------------

bool CanUseLoopDevices() { return ::geteuid() == 0 && test::HaveTool("losetup") && fs::exists("/dev/loop-control"); }

using Loop = test::LoopDevice;

class Mount {
 public:
  Mount(const std::string& device, const std::string& where) : where_(where) {
    fs::create_directories(where);
    mounted_ = test::Run("mount " + device + " " + where + " 2>/dev/null") == 0;
  }
  ~Mount() {
    if (mounted_) test::Run("umount " + where_);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string where_;
  bool mounted_ = false;
};

#define REQUIRE_LOOP_DEVICES()                                                          \
  do {                                                                                  \
    if (!CanUseLoopDevices()) VELLUMARK_CANNOT_RUN("needs root and loop devices");     \
  } while (0)

TEST_F(SourceImage, LoopDeviceOntoItsOwnBackingFileIsRefused) {
  REQUIRE_LOOP_DEVICES();
  const Loop loop(image, true);
  if (loop.path().empty()) VELLUMARK_CANNOT_RUN("no loop device could be attached here");
  const Untouched source(image);
  int status = -1;
  EXPECT_NE(Cli("backup " + loop.path() + " " + image, &status).find(kImageOnSource), std::string::npos);
  EXPECT_EQ(status, 2);
  EXPECT_NE(Cli("rescue " + loop.path() + " " + out + " --report " + image, &status).find(kDestOnSource),
            std::string::npos);
  EXPECT_EQ(status, 2);
  source.Check();
  // Beside the backing file is another matter: that is not what is read.
  EXPECT_EQ(Cli("backup " + loop.path() + " " + (dir / "copy.img"), &status).find(kImageOnSource), std::string::npos);
  EXPECT_EQ(status, 0);
}

// A folder on a file system on the device being rescued, directly (ext4,
// whose number is the device's) or through btrfs's anonymous numbers, or
// inside an image file that lies on that file system.
TEST(DestinationOnSourceDevice, FileSystemsOnTheSourceDeviceAreRefused) {
  REQUIRE_LOOP_DEVICES();
  VELLUMARK_REQUIRE_TOOL("mkfs.ext4");
  VELLUMARK_REQUIRE_TOOL("mkfs.btrfs");
  for (const std::string kind : {"ext4", "btrfs"}) {
    SCOPED_TRACE(kind);
    test::TempDir dir;
    const std::string backing = dir / "fs.img";
    ASSERT_EQ(test::Run("truncate -s 128M " + backing), 0);
    ASSERT_EQ(test::Run("mkfs." + kind + " -q " + backing + " >/dev/null 2>&1"), 0);
    const Loop loop(backing, false);
    if (loop.path().empty()) VELLUMARK_CANNOT_RUN("no loop device could be attached here");
    const Mount mount(loop.path(), dir / "mnt");
    if (!mount.mounted()) VELLUMARK_CANNOT_RUN("cannot mount " << kind << " here");
    fs::create_directories(dir / "mnt/sub/out");
    // An image file on the source's file system, itself mounted.
    const std::string inner = dir / "mnt/inner.img";
    ASSERT_EQ(test::Run("truncate -s 8M " + inner + " && mkfs.ext4 -F -q " + inner + " >/dev/null 2>&1"), 0);
    const Loop innerLoop(inner, false);
    const Mount innerMount(innerLoop.path(), dir / "inner");
    ASSERT_TRUE(innerMount.mounted());

    for (const std::string& folder : {dir / "mnt/sub/out", dir / "inner"}) {
      int status = -1;
      EXPECT_NE(Cli("rescue " + loop.path() + " " + folder, &status).find(kDestOnSource), std::string::npos)
          << folder;
      EXPECT_EQ(status, 2);
      EXPECT_NE(Cli("backup " + loop.path() + " " + folder + "/copy.img", &status).find(kImageOnSource),
                std::string::npos);
      EXPECT_EQ(status, 2);
    }
    // The folder holding the backing file is on another device.
    fs::create_directory(dir / "beside");
    int status = -1;
    Cli("rescue " + innerLoop.path() + " " + (dir / "beside"), &status);
    EXPECT_EQ(status, 0);
  }
}

// A destination that fills up part-way, and one mounted read-only.
TEST_F(SourceImage, FullAndReadOnlyDestinationsAreTold) {
  REQUIRE_LOOP_DEVICES();
  Bytes bytes = test::PatternBytes(2 << 20);
  for (std::size_t at = 0; at + document.size() < bytes.size(); at += 64 * 1024) {
    std::copy(document.begin(), document.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
  }
  test::WriteFileBytes(image, bytes);
  const Mount full("-t tmpfs -o size=64k tmpfs", dir / "full");
  const Mount readOnly("-t tmpfs -o ro,size=64k tmpfs", dir / "ro");
  if (!full.mounted() || !readOnly.mounted()) VELLUMARK_CANNOT_RUN("cannot mount a tmpfs here");

  int status = -1;
  std::string printed = Cli("rescue " + image + " " + (dir / "full") + " --report " + (dir / "report.csv"), &status);
  EXPECT_EQ(status, 1) << printed;
  EXPECT_NE(printed.find("Documents found but not written: "), std::string::npos) << printed;
  EXPECT_NE(printed.find("No space left on device: " + (dir / "full")), std::string::npos) << printed;
  const auto report = test::ReadFileBytes(dir / "report.csv");
  EXPECT_NE(std::string(report.begin(), report.end()).find("not written: No space left on device"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(dir / "full")) {
    EXPECT_TRUE(test::ReadFileBytes(entry.path().string()) == document) << entry.path();
  }

  printed = Cli("rescue " + image + " " + (dir / "ro"), &status);
  EXPECT_EQ(status, 2);
  EXPECT_NE(printed.find("Can't write files to the dest folder!"), std::string::npos) << printed;
  EXPECT_NE(printed.find("Read-only file system"), std::string::npos) << printed;
}

TEST_F(SourceImage, BackupWithoutRoomLeavesTheEarlierImageAsItWas) {
  REQUIRE_LOOP_DEVICES();
  const std::string small = dir / "small";
  fs::create_directory(small);
  const Mount tmpfs("-t tmpfs -o size=3m tmpfs", small);
  if (!tmpfs.mounted()) VELLUMARK_CANNOT_RUN("cannot mount a tmpfs here");
  const std::string earlier = small + "/copy.img";
  test::WriteFileBytes(earlier, test::PatternBytes(2 << 20, 5));
  const Untouched kept(earlier);
  int status = -1;
  EXPECT_NE(Cli("backup " + image + " " + earlier, &status).find("No enough free space on dest drive!"),
            std::string::npos);
  EXPECT_NE(status, 0);
  kept.Check();
  EXPECT_EQ(std::distance(fs::directory_iterator(small), {}), 1);
}

}  // namespace
}  // namespace vellumark
