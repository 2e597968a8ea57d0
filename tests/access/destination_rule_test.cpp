// The destination rule against a fixture of the system's tables: a sysfs tree
// of disks, partitions, device-mapper and RAID layers and loop devices, a
// mountinfo file, and a table standing in for stat(2).
#include "access/destination_rule.h"

#include "access/mount_table.h"

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

struct Device {
  const char* name;
  unsigned major_, minor_;
  const char* partitionOf;            // the disk's name, for a partition
  std::vector<const char*> slaves;    // the devices a dm or md device is built on
  const char* backingFile;            // for a loop device
};

// sda: sda1 holds "/", sda2 holds LUKS (dm-0) holding LVM (dm-1) at /fx/srv.
// sdb1 holds btrfs at /fx/home. md0 mirrors sdc1 and sdd1 at /fx/raid.
// loop0 is /fx/home/u/disk.img, its partition loop0p1 at /fx/mnt/loopfs.
// loop1 is /fx/home/u/source.img, mounted whole at /fx/mnt/imgfs.
const Device kDevices[] = {
    {"sda", 8, 0, nullptr, {}, nullptr},      {"sda1", 8, 1, "sda", {}, nullptr},
    {"sda2", 8, 2, "sda", {}, nullptr},       {"sdb", 8, 16, nullptr, {}, nullptr},
    {"sdb1", 8, 17, "sdb", {}, nullptr},      {"sdc", 8, 32, nullptr, {}, nullptr},
    {"sdc1", 8, 33, "sdc", {}, nullptr},      {"sdd", 8, 48, nullptr, {}, nullptr},
    {"sdd1", 8, 49, "sdd", {}, nullptr},      {"dm-0", 253, 0, nullptr, {"sda2"}, nullptr},
    {"dm-1", 253, 1, nullptr, {"dm-0"}, nullptr}, {"md0", 9, 0, nullptr, {"sdc1", "sdd1"}, nullptr},
    {"loop0", 7, 0, nullptr, {}, "/fx/home/u/disk.img"}, {"loop0p1", 259, 0, "loop0", {}, nullptr},
    {"loop1", 7, 1, nullptr, {}, "/fx/home/u/source.img"},
};

const char kMountInfo[] =
    "22 1 8:1 / /fx rw - ext4 /dev/sda1 rw\n"
    "30 22 0:42 / /fx/home rw - btrfs /dev/sdb1 rw\n"
    "31 22 253:1 / /fx/srv rw - ext4 /dev/mapper/vg-srv rw\n"
    "32 22 9:0 / /fx/raid rw shared:5 - ext4 /dev/md0 rw\n"
    "33 22 259:0 / /fx/mnt/loopfs rw - ext4 /dev/loop0p1 rw\n"
    "34 22 7:1 / /fx/mnt/imgfs rw - vfat /dev/loop1 rw\n"
    "35 22 0:30 / /fx/tmp rw - tmpfs tmpfs rw\n"
    "36 22 0:6 / /fx/dev rw - devtmpfs udev rw\n"
    // A mount whose point is the start of another folder's name.
    "37 30 0:44 / /fx/home/us rw - btrfs /dev/sdc1 rw\n"
    // Two mounts at one point: the automounter's, then the file system over it.
    "38 22 0:50 / /fx/auto rw - autofs systemd-1 rw\n"
    "39 38 0:51 / /fx/auto rw - btrfs /dev/sdb1 rw\n"
    // A mount point ending in a blank, escaped by the kernel.
    "40 22 0:52 / /fx/media/disk\\040 rw - btrfs /dev/sdc1 rw\n";

std::uint64_t Dev(unsigned a, unsigned b) { return makedev(a, b); }

PathFacts Folder(std::uint64_t device) {
  PathFacts facts;
  facts.device = device;
  facts.directory = true;
  return facts;
}

PathFacts File(std::uint64_t device, std::uint64_t inode) {
  PathFacts facts;
  facts.device = device;
  facts.inode = inode;
  facts.regularFile = true;
  return facts;
}

PathFacts Node(std::uint64_t rdev) {
  PathFacts facts;
  facts.device = Dev(0, 6);
  facts.inode = rdev;
  facts.rdev = rdev;
  facts.blockDevice = true;
  return facts;
}

// A btrfs subvolume reports an anonymous number of its own, found in no
// table; its files are found through the mount over their path.
const std::map<std::string, PathFacts> kStat = {
    {"/fx/root", Folder(Dev(8, 1))},
    {"/fx/root/out", Folder(Dev(8, 1))},
    {"/fx/home/u", Folder(Dev(0, 43))},
    {"/fx/home/u/disk.img", File(Dev(0, 43), 100)},
    {"/fx/home/u/source.img", File(Dev(0, 43), 101)},
    {"/fx/home/u/link-to-source.img", File(Dev(0, 43), 101)},
    {"/fx/srv/out", Folder(Dev(253, 1))},
    {"/fx/raid/out", Folder(Dev(9, 0))},
    {"/fx/mnt/loopfs/out", Folder(Dev(259, 0))},
    {"/fx/mnt/imgfs/out", Folder(Dev(7, 1))},
    {"/fx/tmp/out", Folder(Dev(0, 30))},
    {"/fx/dev", Folder(Dev(0, 6))},
    {"/fx/dev/sda", Node(Dev(8, 0))},
    {"/fx/dev/sdb", Node(Dev(8, 16))},
    {"/fx/home/user/out", Folder(Dev(0, 45))},   // a subvolume of the btrfs at /fx/home
    {"/fx/auto/out", Folder(Dev(0, 53))},        // a subvolume of the btrfs over the automount
    {"/fx/media/disk /out", Folder(Dev(0, 54))},
    {".", Folder(Dev(8, 1))},                    // the working folder
};

class SystemFixture {
 public:
  SystemFixture() {
    const fs::path sys = dir_.path() / "sys";
    fs::create_directories(sys / "dev/block");
    fs::create_directories(sys / "class/block");
    fs::create_directories(dir_.path() / "dev/mapper");
    for (const Device& d : kDevices) {
      const fs::path node = d.partitionOf ? sys / "devices" / d.partitionOf / d.name : sys / "devices" / d.name;
      fs::create_directories(node / "slaves");
      std::ofstream(node / "dev") << d.major_ << ':' << d.minor_ << '\n';
      if (d.partitionOf) std::ofstream(node / "partition") << "1\n";
      for (const char* slave : d.slaves) std::ofstream(node / "slaves" / slave).close();
      if (d.backingFile) {
        fs::create_directories(node / "loop");
        std::ofstream(node / "loop/backing_file") << d.backingFile << '\n';
      }
      fs::create_directory_symlink(node, sys / "dev/block" / (std::to_string(d.major_) + ":" + std::to_string(d.minor_)));
      fs::create_directory_symlink(node, sys / "class/block" / d.name);
    }
    fs::create_symlink("../dm-1", dir_.path() / "dev/mapper/vg-srv");
    std::ofstream(dir_.path() / "mountinfo") << kMountInfo;
    view_.mountInfo = dir_ / "mountinfo";
    view_.sysDevBlock = (sys / "dev/block").string();
    view_.sysClassBlock = (sys / "class/block").string();
    view_.devDirectory = dir_ / "dev";
    view_.stat = [](const std::string& path) -> std::optional<PathFacts> {
      const auto it = kStat.find(path);
      return it == kStat.end() ? std::nullopt : std::optional<PathFacts>(it->second);
    };
  }
  const SystemView& View() const { return view_; }

 private:
  test::TempDir dir_;
  SystemView view_;
};

// A source (a device being read, or the file opened), a destination, and
// whether writing there is refused.
struct RuleCase {
  std::optional<std::uint64_t> device;
  std::optional<FileId> file;
  const char* path;
  bool refused;
};

void ExpectVerdicts(const std::vector<RuleCase>& cases, bool asFolder) {
  const SystemFixture system;
  for (const RuleCase& c : cases) {
    const DestinationRule rule(c.device, c.file, system.View());
    const DestinationRefusal refusal = asFolder ? rule.CheckFolder(c.path) : rule.CheckFile(c.path);
    EXPECT_EQ(refusal != DestinationRefusal::None, c.refused) << c.path << " for source " << c.device.value_or(0);
  }
}

const FileId kImage{Dev(0, 43), 101};

TEST(DestinationRule, RefusesFoldersWhoseFileSystemLiesOnTheSourceInAnyWay) {
  const FileId image = kImage;
  ExpectVerdicts({
      {Dev(8, 0), {}, "/fx/root/out", true},              // a partition of the disk being read
      {Dev(8, 1), {}, "/fx/root/out", true},              // the partition itself
      {Dev(8, 2), {}, "/fx/root/out", false},             // its sibling
      {Dev(8, 17), {}, "/fx/home/u", true},               // btrfs: anonymous numbers, the mount's source
      {Dev(8, 16), {}, "/fx/home/u", true},
      {Dev(8, 0), {}, "/fx/srv/out", true},               // LVM on LUKS on sda2
      {Dev(8, 2), {}, "/fx/srv/out", true},
      {Dev(253, 0), {}, "/fx/srv/out", true},             // the LUKS layer under it
      {Dev(8, 1), {}, "/fx/srv/out", false},
      {Dev(8, 49), {}, "/fx/raid/out", true},             // one half of the mirror
      {Dev(8, 16), {}, "/fx/raid/out", false},
      {Dev(8, 17), {}, "/fx/mnt/loopfs/out", true},       // inside an image file on the partition
      {Dev(7, 0), {}, "/fx/mnt/loopfs/out", true},        // a partition of the loop device
      {Dev(7, 0), {}, "/fx/home/u", false},               // beside the loop device's image file
      {Dev(8, 0), {}, "/fx/tmp/out", false},              // tmpfs has no disk
      {std::nullopt, image, "/fx/home/u", false},         // beside the image file being read
      {std::nullopt, image, "/fx/mnt/imgfs/out", true},   // inside that image file, mounted
      {std::nullopt, std::nullopt, "/fx/root/out", false},
      // Found through the innermost mount over the path, whole names only.
      {Dev(8, 17), {}, "/fx/home/user/out", true},       // under /fx/home, not under /fx/home/us
      {Dev(8, 33), {}, "/fx/home/user/out", false},
      {Dev(8, 17), {}, "/fx/auto/out", true},            // the later of two mounts at one point
      {Dev(8, 33), {}, "/fx/media/disk /out", true},     // a mount point that ends in a blank
      {Dev(8, 1), {}, "/fx/media/disk /out", false},
  }, true);
}

TEST(DestinationRule, RefusesTheSourceFileByAnyNameAndTheDevicesHoldingIt) {
  const FileId image = kImage;
  ExpectVerdicts({
      {std::nullopt, image, "/fx/home/u/source.img", true},
      {std::nullopt, image, "/fx/home/u/link-to-source.img", true},  // a link or a second name
      {std::nullopt, image, "/fx/home/u/disk.img", false},
      {std::nullopt, image, "/fx/home/u/new.img", false},
      {Dev(7, 1), {}, "/fx/home/u/source.img", true},    // the file behind the loop device being read
      {Dev(7, 1), {}, "/fx/home/u/new.img", false},
      {Dev(8, 1), {}, "/fx/dev/sda", true},              // the disk holding the partition being read
      {Dev(8, 1), {}, "/fx/dev/sdb", false},
      {Dev(8, 1), {}, "/fx/root/new.img", true},         // a new name on the source itself
      {Dev(8, 1), {}, "copy.img", true},                 // a bare name: in the working folder, on the source
      {Dev(8, 2), {}, "copy.img", false},
  }, false);
}

TEST(MountTable, ReadsFieldsAfterTheOptionalOnesAndUnescapesBlanks) {
  test::TempDir dir;
  std::ofstream(dir / "mountinfo") << "40 22 8:3 / /media/my\\040disk rw,relatime shared:7 master:1 - vfat "
                                      "/dev/sdc3 rw\n"
                                      "garbage line\n";
  const auto mounts = ReadMountInfo(dir / "mountinfo");
  ASSERT_EQ(mounts.size(), 1u);
  EXPECT_EQ(mounts[0].device, Dev(8, 3));
  EXPECT_EQ(mounts[0].mountPoint, "/media/my disk");
  EXPECT_EQ(mounts[0].fileSystemType, "vfat");
  EXPECT_EQ(mounts[0].source, "/dev/sdc3");
}

TEST(MountTable, UnescapesAnEscapeWhereverItStandsInTheField) {
  const struct { const char* field; const char* text; } cases[] = {
      {"/media/disk\\040", "/media/disk "},        // ending the field
      {"\\011tab", "\ttab"},                       // starting it
      {"/a\\134b", "/a\\b"},                      // a backslash itself
      {"/short\\04", "/short\\04"},               // too short to be one
      {"/not\\08x", "/not\\08x"},                 // not octal
  };
  for (const auto& c : cases) EXPECT_EQ(UnescapeMountField(c.field), c.text) << c.field;
}

}  // namespace
}  // namespace vellumark
