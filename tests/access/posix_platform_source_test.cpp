// Paths that name no disk and no image file (a pipe, a socket, a character
// device, a folder) are refused when opened, with the reason, and opening
// never waits: a pipe with no writer would otherwise block open() for good.
#include "access/posix_platform_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>

#include "access/sector_source.h"
#include "support/fixtures.h"
#include "texts/refusal_slots.h"

namespace vellumark {
namespace {

// Runs open (which opens path) on another thread. Should it hang, a writer
// is opened on the pipe so that the test fails instead of waiting for ever.
template <typename Open>
auto WithoutHanging(const std::string& path, Open open) {
  auto done = std::async(std::launch::async, open);
  if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
    ADD_FAILURE() << "opening " << path << " is waiting";
    const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  return done.get();
}

// A Unix socket bound at path, closed (and the node left) on destruction.
struct BoundSocket {
  explicit BoundSocket(const std::string& path) : fd(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    bound = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  }
  ~BoundSocket() {
    if (fd >= 0) ::close(fd);
  }
  int fd;
  bool bound = false;
};

// The access modes of this process's open descriptors on path, as
// /proc/self/fdinfo gives them (O_RDONLY, O_WRONLY or O_RDWR).
std::vector<int> AccessModesOf(const std::string& path) {
  std::vector<int> modes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) != path) continue;
    std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
    for (std::string line; std::getline(info, line);) {
      if (line.rfind("flags:", 0) == 0) modes.push_back(static_cast<int>(std::stoul(line.substr(6), nullptr, 8)) & O_ACCMODE);
    }
  }
  return modes;
}

// Root may write any file; only the mode of the opening keeps the source safe.
TEST(PosixPlatformSource, TheSourceIsOpenedForReadingOnly) {
  test::TempDir dir;
  const std::string path = dir / "disk.img";
  test::WriteFileBytes(path, test::PatternBytes(64 * 1024));
  PosixPlatformSource source;
  ASSERT_TRUE(source.Open(path));
  EXPECT_EQ(AccessModesOf(path), std::vector<int>{O_RDONLY});
}

TEST(PosixPlatformSource, NodesThatAreNoDiskAndNoFileAreRefusedAtOnce) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const BoundSocket socket(dir / "socket");
  ASSERT_TRUE(socket.bound) << std::strerror(errno);
  test::WriteFileBytes(dir / "image.img", test::PatternBytes(4096));
  const struct { std::string path; int systemError; RefusedKind refused; } cases[] = {
      {dir / "pipe", 0, RefusedKind::Pipe},
      {dir / "socket", 0, RefusedKind::Socket},
      {"/dev/null", 0, RefusedKind::CharacterDevice},
      {dir.path().string(), EISDIR, RefusedKind::None},
      {dir / "missing.img", ENOENT, RefusedKind::None},
  };
  PosixPlatformSource source;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ASSERT_TRUE(source.Open(dir / "image.img"));
    EXPECT_FALSE(WithoutHanging(c.path, [&] { return source.Open(c.path); }));
    const OpenFailure failure = source.LastOpenFailure();
    EXPECT_FALSE(source.IsOpen());  // and what was open before is closed
    EXPECT_EQ(failure.systemError, c.systemError);
    EXPECT_EQ(failure.refused, c.refused);
  }
  // A regular file after a refusal opens and reads as ever.
  ASSERT_TRUE(source.Open(dir / "image.img"));
  EXPECT_EQ(source.LastOpenFailure().systemError, 0);
  std::vector<std::uint8_t> got(4096);
  EXPECT_EQ(source.Read(got.data(), got.size()), 4096);
  EXPECT_EQ(got, test::PatternBytes(4096));
}

// The sector source names the message of what failed and the reason.
TEST(PosixPlatformSource, PipeAsImageFileNamesItsKind) {
  test::TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  const std::string pipe = dir / "pipe";
  SectorSource source(std::make_unique<PosixPlatformSource>());
  const struct { OpenResult result; int slot; } cases[] = {
      {WithoutHanging(pipe, [&] { return source.OpenImageFile(pipe); }), slot::kFailedToOpenFile},
      {WithoutHanging(pipe, [&] { return source.OpenPartition(pipe, "pipe"); }), slot::kFailedToOpenDrive},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SlotOf(c.result.error), c.slot);
    EXPECT_EQ(SlotOf(c.result.refused), slot::kSourceIsPipe);
    EXPECT_EQ(c.result.systemError, 0);
  }
  EXPECT_FALSE(source.IsOpen());
}

}  // namespace
}  // namespace vellumark
