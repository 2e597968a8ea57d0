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

#include "access/read_write_mounts.h"
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
    "40 22 0:52 / /fx/media/disk\\040 rw - btrfs /dev/sdc1 rw\n"
    // FUSE: ntfs-3g names the image it serves; fusefat names only itself;
    // bindfs names a folder; sshfs keeps its bytes on another machine.
    "50 22 0:70 / /fx/mnt/ntfs rw - fuse /fx/home/u/source.img rw\n"
    "51 22 0:71 / /fx/mnt/fat rw - fuse.fusefat fusefat rw\n"
    "52 22 0:72 / /fx/mnt/disk rw - fuse.fusefat fusefat rw\n"
    "53 22 0:73 / /fx/mnt/lost rw - fuse.fusefat fusefat rw\n"
    "54 22 0:74 / /fx/mnt/net rw - fuse.sshfs host:/srv rw\n"
    "55 22 0:75 / /fx/mnt/bind rw - fuse.bindfs /fx/root rw\n"
    "56 22 0:76 / /fx/mnt/old rw - fuse.fusefat fusefat rw\n"
    "57 22 8:32 / /fx/mnt/blk rw - fuseblk /dev/sdc rw\n";

// Processes holding /dev/fuse, and what else they hold. The kernel names the
// connection of each /dev/fuse descriptor in its fdinfo ("fuse_connection:",
// 20 bits of minor); an older kernel does not.
struct Process {
  int pid;
  unsigned connection;
  std::vector<const char*> held;  // descriptors 3, 4 ... (/dev/fuse is the last)
};

const Process kProcesses[] = {
    {200, 71, {"/fx/home/u/source.img", "pipe:[7]"}},  // serving /fx/mnt/fat from the source image
    {201, 72, {"/fx/dev/sda"}},                         // serving /fx/mnt/disk from the disk sda
    {202, 74, {"socket:[9]", "/fx/tmp/out"}},           // sshfs: a socket and a folder on tmpfs
    {203, 76, {"/fx/home/u/disk.img"}},                 // serving /fx/mnt/old from disk.img
    {300, 99, {"/fx/root/out"}},                        // the server of a mount not in this table
};

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
    {"/fx/mnt/ntfs/out", Folder(Dev(0, 70))},
    {"/fx/mnt/fat/out", Folder(Dev(0, 71))},
    {"/fx/mnt/disk/out", Folder(Dev(0, 72))},
    {"/fx/mnt/lost/out", Folder(Dev(0, 73))},
    {"/fx/mnt/net/out", Folder(Dev(0, 74))},
    {"/fx/mnt/bind/out", Folder(Dev(0, 75))},
    {"/fx/mnt/old/out", Folder(Dev(0, 76))},
    {"/fx/mnt/blk/out", Folder(Dev(8, 32))},
};

class SystemFixture {
 public:
  // unreadableProcess: one more process whose descriptors cannot be listed,
  // as those of another user's are for an ordinary user.
  explicit SystemFixture(bool olderKernel = false, bool unreadableProcess = false) {
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
    const fs::path proc = dir_.path() / "proc";
    for (const Process& p : kProcesses) {
      const fs::path process = proc / std::to_string(p.pid);
      fs::create_directories(process / "fd");
      fs::create_directories(process / "fdinfo");
      int fd = 3;
      for (const char* held : p.held) fs::create_symlink(held, process / "fd" / std::to_string(fd++));
      fs::create_symlink("/dev/fuse", process / "fd" / std::to_string(fd));
      std::ofstream info(process / "fdinfo" / std::to_string(fd));
      info << "pos:\t0\nflags:\t0100002\nmnt_id:\t24\nino:\t89\n";
      if (!olderKernel) info << "fuse_connection:\t" << p.connection << '\n';
    }
    fs::create_directories(proc / "self");  // no number: not a process
    if (unreadableProcess) {
      fs::create_directories(proc / "400");
      std::ofstream(proc / "400" / "fd").close();  // no folder to list
    }
    view_.procDirectory = proc.string();
    // A descriptor stats as what it leads to.
    view_.stat = [procText = proc.string()](const std::string& path) -> std::optional<PathFacts> {
      std::string key = path;
      if (path.rfind(procText, 0) == 0) {
        std::error_code error;
        key = fs::read_symlink(path, error).string();
      }
      const auto it = kStat.find(key);
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

// The FUSE file systems of the fixture: their mount sources and servers lead
// to the source, or nowhere local, or cannot be traced.
TEST(DestinationRule, FollowsFuseFileSystemsToWhatTheirServersHold) {
  using enum DestinationRefusal;
  const struct {
    bool olderKernel;
    bool unreadableProcess;
    std::optional<std::uint64_t> device;
    std::optional<FileId> file;
    const char* path;
    DestinationRefusal verdict;
  } cases[] = {
      {false, false, {}, kImage, "/fx/mnt/ntfs/out", OnSource},      // mounted from the image by its path
      {false, false, Dev(8, 17), {}, "/fx/mnt/ntfs/out", OnSource},  // ... which lies on the partition
      {false, false, {}, kImage, "/fx/mnt/fat/out", OnSource},       // its server holds the image
      {false, false, Dev(8, 16), {}, "/fx/mnt/fat/out", OnSource},
      {false, false, Dev(8, 1), {}, "/fx/mnt/fat/out", None},
      {false, false, Dev(8, 1), {}, "/fx/mnt/disk/out", OnSource},   // its server holds the disk itself
      {false, false, Dev(8, 0), {}, "/fx/mnt/disk/out", OnSource},
      {false, false, {}, kImage, "/fx/mnt/disk/out", None},
      {false, false, Dev(8, 17), {}, "/fx/mnt/old/out", OnSource},   // disk.img on sdb1
      {false, false, Dev(7, 0), {}, "/fx/mnt/old/out", OnSource},    // the loop device reading disk.img
      {false, false, {}, kImage, "/fx/mnt/old/out", None},
      {false, false, Dev(8, 1), {}, "/fx/mnt/bind/out", OnSource},   // a folder on the partition
      {false, false, Dev(8, 16), {}, "/fx/mnt/bind/out", None},
      {false, false, Dev(8, 32), {}, "/fx/mnt/blk/out", OnSource},   // fuseblk: the device is the number
      {false, false, {}, kImage, "/fx/mnt/net/out", None},           // a socket and tmpfs: nothing local
      {false, false, Dev(8, 1), {}, "/fx/mnt/lost/out", Unresolved}, // no server to be found
      {false, false, {}, kImage, "/fx/mnt/lost/out", Unresolved},
      {false, false, {}, {}, "/fx/mnt/lost/out", None},              // nothing being read
      {false, true, {}, kImage, "/fx/mnt/fat/out", OnSource},        // named by the kernel despite the unreadable
      {false, true, Dev(8, 48), {}, "/fx/mnt/lost/out", Unresolved},
      // Older kernels do not say which connection is whose: every holder of
      // /dev/fuse counts, and any that cannot be read leaves nothing known.
      {true, false, {}, kImage, "/fx/mnt/lost/out", OnSource},
      {true, false, Dev(8, 16), {}, "/fx/mnt/net/out", OnSource},
      {true, false, Dev(8, 1), {}, "/fx/mnt/net/out", OnSource},     // process 300's folder on sda1
      {true, false, Dev(8, 48), {}, "/fx/mnt/net/out", None},
      {true, true, Dev(8, 48), {}, "/fx/mnt/net/out", Unresolved},
  };
  const SystemFixture systems[2][2] = {{SystemFixture(false, false), SystemFixture(false, true)},
                                       {SystemFixture(true, false), SystemFixture(true, true)}};
  for (const auto& c : cases) {
    const SystemFixture& system = systems[c.olderKernel][c.unreadableProcess];
    const DestinationRule rule(c.device, c.file, system.View());
    const std::string trace = std::string(c.path) + " for source " + std::to_string(c.device.value_or(0)) +
                              (c.olderKernel ? ", older kernel" : "") + (c.unreadableProcess ? ", unreadable" : "");
    EXPECT_EQ(rule.CheckFolder(c.path), c.verdict) << trace;
    // A file in the folder fares the same.
    EXPECT_EQ(rule.CheckFile(std::string(c.path) + "/report.csv"), c.verdict) << trace;
  }
}

// The file systems mounted read-write that write to what a source reads:
// on the disk, on a partition of it, through LVM and LUKS, or inside the
// image file read (through a loop device).
TEST(ReadWriteMounts, FindsEveryMountWritingToTheSource) {
  const SystemFixture system;
  struct Case {
    std::optional<std::uint64_t> device;
    std::optional<FileId> file;
    std::vector<std::string> mounts;
  };
  const Case cases[] = {
      {Dev(8, 0), {}, {"/fx", "/fx/srv"}},
      {Dev(8, 2), {}, {"/fx/srv"}},
      {Dev(8, 1), {}, {"/fx"}},
      // Both loop devices' images lie on sdb1.
      {Dev(8, 16), {}, {"/fx/home", "/fx/mnt/loopfs", "/fx/mnt/imgfs", "/fx/auto"}},
      {Dev(8, 48), {}, {"/fx/raid"}},
      {{}, kImage, {"/fx/mnt/imgfs"}},
      {{}, {}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadWriteMountsOver(c.device, c.file, system.View()), c.mounts) << c.device.value_or(0);
  }
  // A read-only mount writes nothing.
  test::TempDir dir;
  std::ofstream(dir / "mountinfo") << "22 1 8:1 / /fx ro,relatime - ext4 /dev/sda1 ro\n";
  SystemView readOnly = system.View();
  readOnly.mountInfo = dir / "mountinfo";
  EXPECT_TRUE(ReadWriteMountsOver(Dev(8, 0), std::nullopt, readOnly).empty());
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
  EXPECT_TRUE(mounts[0].readWrite);  // "rw,relatime"
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
