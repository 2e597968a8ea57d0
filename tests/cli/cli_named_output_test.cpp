// Paths the user names for an output (--report PATH, a backup's IMAGE) that
// are no regular file: device nodes made for the test, a pipe, a socket, a
// folder, and links to them. Each is refused before any work with what it
// is, keeps its kind, and nothing else is written; the source keeps its
// bytes. Also backups that fail on the way, each with its path and the
// system's reason.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "support/fixtures.h"

namespace vellumark {
namespace {

namespace fs = std::filesystem;

std::string Cli(const std::string& args, int* status) {
  return test::RunOutput("LANG=C LC_ALL= LC_MESSAGES= " VELLUMARK_CLI " " + args + " 2>&1", status);
}

mode_t TypeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

// A socket node left behind by a listener that is gone, as stale sockets are.
bool MakeSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const bool made = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return made;
}

struct Node {
  const char* name;
  const char* kindText;  // what the refusal says it is
  std::function<bool(const std::string&)> make;
};

// Device numbers no driver serves here (an unused loop minor, and the null
// device's), made as private nodes: never the system's own.
const Node kNodes[] = {
    {"block", "it is a block device; an image is saved as a file, never written straight onto a disk",
     [](const std::string& p) { return ::mknod(p.c_str(), S_IFBLK | 0600, makedev(7, 250)) == 0; }},
    {"character", "it is a character device",
     [](const std::string& p) { return ::mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0; }},
    {"fifo", "it is a pipe (FIFO)", [](const std::string& p) { return ::mkfifo(p.c_str(), 0600) == 0; }},
    {"socket", "it is a socket", MakeSocket},
    {"folder", "it is a folder", [](const std::string& p) { return fs::create_directory(p); }},
};

class NamedOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    VELLUMARK_REQUIRE(::geteuid() == 0, "root (to make device nodes)");
    const auto document = test::ReadFileBytes(std::string(VELLUMARK_CORPUS_DIR) + "/doc/52117.doc");
    VELLUMARK_REQUIRE(!document.empty(), "the document corpus");
    bytes = test::PatternBytes(1 << 20);
    std::copy(document.begin(), document.end(), bytes.begin() + 100 * 512);
    test::WriteFileBytes(image, bytes);
    fs::create_directory(out);
    fs::create_directory(nodes);
  }
  // Makes the node, and a link to it beside it; returns both paths.
  std::vector<std::string> Make(const Node& node, const std::string& suffix = "") {
    const std::string path = nodes + "/" + node.name + suffix;
    EXPECT_TRUE(node.make(path)) << path << ": " << std::strerror(errno);
    fs::create_symlink(path, path + ".link");
    return {path, path + ".link"};
  }
  void ExpectSourceUnchanged() const { EXPECT_TRUE(test::ReadFileBytes(image) == bytes) << "the source changed"; }

  test::TempDir dir;
  const std::string image = dir / "source.img";
  const std::string out = dir / "out";
  const std::string nodes = dir / "nodes";
  std::vector<std::uint8_t> bytes;
};

TEST_F(NamedOutput, AReportPathThatIsNoFileIsRefusedBeforeTheScan) {
  for (const Node& node : kNodes) {
    for (const std::string& path : Make(node)) {
      SCOPED_TRACE(path);
      const mode_t before = TypeOf(path);
      int status = -1;
      const std::string printed = Cli("rescue " + image + " " + out + " --report " + path, &status);
      EXPECT_EQ(status, 2) << printed;
      EXPECT_NE(printed.find("The report can only be written as a file! " + path + ": " + node.kindText),
                std::string::npos)
          << printed;
      EXPECT_EQ(printed.find("Rescued file"), std::string::npos) << "the scan ran: " << printed;
      EXPECT_TRUE(fs::is_empty(out)) << "nothing is written before the refusal";
      EXPECT_EQ(TypeOf(path), before);
      if (fs::is_directory(path)) {
        EXPECT_TRUE(fs::is_empty(path));
      }
    }
  }
  ExpectSourceUnchanged();
  // A link that leads nowhere is a new name: the link is replaced, nothing followed.
  fs::create_symlink(dir / "nowhere", dir / "dangling.csv");
  int status = -1;
  Cli("rescue " + image + " " + out + " --report " + (dir / "dangling.csv"), &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(TypeOf(dir / "dangling.csv"), S_IFREG);
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST_F(NamedOutput, AnImagePathOrMapPathThatIsNoFileIsRefusedBeforeTheCopy) {
  for (const Node& node : kNodes) {
    for (const std::string& path : Make(node)) {
      SCOPED_TRACE(path);
      const mode_t before = TypeOf(path);
      int status = -1;
      const std::string printed = Cli("backup " + image + " " + path, &status);
      EXPECT_EQ(status, 2) << printed;
      EXPECT_NE(printed.find("The IMG file can only be saved as a file! " + path + ": " + node.kindText),
                std::string::npos)
          << printed;
      EXPECT_EQ(printed.find("Finished"), std::string::npos) << printed;
      EXPECT_EQ(TypeOf(path), before);
      EXPECT_FALSE(fs::exists(path + ".map")) << "a map beside an image that was refused";
      EXPECT_FALSE(fs::exists(path + "-2")) << "an image beside it under another name";
    }
    // The image's name is free, but the map's is taken by the node.
    const std::string map = Make(node, "-as-map.img.map")[0];
    const std::string target = nodes + "/" + node.name + "-as-map.img";
    const mode_t before = TypeOf(map);
    int status = -1;
    const std::string printed = Cli("backup " + image + " " + target, &status);
    EXPECT_EQ(status, 2) << printed;
    EXPECT_NE(printed.find(map + ": " + node.kindText), std::string::npos) << printed;
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(TypeOf(map), before);
  }
  ExpectSourceUnchanged();
  // Nothing was left in the folders on the way either.
  for (const auto& entry : fs::directory_iterator(nodes)) {
    EXPECT_EQ(entry.path().filename().string().find(".vellumark-"), std::string::npos) << entry.path();
  }
}

// A backup that cannot create its image, or runs out of room, says where and why.
TEST_F(NamedOutput, BackupFailuresNameThePathAndTheSystemsReason) {
  VELLUMARK_REQUIRE(::geteuid() == 0, "root (to mount a tmpfs)");
  const std::string readOnly = dir / "ro";
  const std::string small = dir / "small";
  fs::create_directory(readOnly);
  fs::create_directory(small);
  const bool mountedReadOnly = test::Run("mount -t tmpfs -o ro,size=64k tmpfs " + readOnly) == 0;
  const bool mountedSmall = test::Run("mount -t tmpfs -o size=256k tmpfs " + small) == 0;
  struct Unmount {
    std::string where;
    bool mounted;
    ~Unmount() {
      if (mounted) test::Run("umount " + where);
    }
  } unmountReadOnly{readOnly, mountedReadOnly}, unmountSmall{small, mountedSmall};
  VELLUMARK_REQUIRE(mountedReadOnly && mountedSmall, "tmpfs mounts");

  const struct {
    std::string target;
    std::string message;
  } cases[] = {
      {readOnly + "/copy.img", "Can't create the IMG file! " + readOnly + "/copy.img: Read-only file system"},
      {small + "/copy.img", "No enough free space on dest drive! " + small + "/copy.img: No space left on device"},
      {dir / "missing/copy.img", "Can't create the IMG file! " + (dir / "missing/copy.img") +
                                     ": No such file or directory"},
  };
  for (const auto& c : cases) {
    int status = -1;
    const std::string printed = Cli("backup " + image + " " + c.target + " --yes", &status);
    EXPECT_EQ(status, 1) << printed;
    EXPECT_NE(printed.find(c.message), std::string::npos) << printed;
    EXPECT_FALSE(fs::exists(c.target));
    EXPECT_FALSE(fs::exists(c.target + ".map"));
  }
  EXPECT_TRUE(fs::is_empty(small));
  ExpectSourceUnchanged();
}

}  // namespace
}  // namespace vellumark
