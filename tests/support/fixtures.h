#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace vellumark::test {

// A fresh directory under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// A loop device over file, detached afterwards; its path is empty where none
// could be attached. The kernel detaches it only once nothing mounted from it
// remains, so mounts over it must end first.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& file, bool readOnly = false);
  ~LoopDevice();
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Makes image a 16 MiB exFAT volume of 4 KiB clusters, mounts it through
// exfat-fuse on a loop device, runs the shell commands in its root folder and
// unmounts it, so that the driver itself decides where each file lies.
// Returns 0 when every step worked. Needs root, /dev/fuse and a loop device.
int WriteExfatVolume(const std::string& image, const std::string& commands);

// Whether an external program (searched in PATH, /sbin and /usr/sbin) exists.
bool HaveTool(const std::string& name);

// Runs a shell command; returns its exit status (-1 when it could not run).
int Run(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string RunOutput(const std::string& command, int* status = nullptr);

// The file's bytes, or its first maxBytes.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::size_t maxBytes = SIZE_MAX);
void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The file a real tool wrote at dir/name: runs command, the path, then rest.
inline std::vector<std::uint8_t> Made(const TempDir& dir, const std::string& command, const std::string& name,
                                      const std::string& rest = "") {
  EXPECT_EQ(Run(command + (dir / name) + rest), 0) << command;
  return ReadFileBytes(dir / name);
}

// Mapped bytes are read through a plain function (see MappedReader); this one
// sums size bytes from bytes.
struct MappedSum {
  const std::uint8_t* bytes;
  std::size_t size;
  std::uint64_t sum = 0;
};
void SumMapped(void* context);

// Deterministic bytes in which every 512-byte sector differs from every other.
std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed = 1);

// The rows of a CSV text (quoted fields, doubled quotes, CRLF rows), with a
// leading UTF-8 byte-order mark skipped.
std::vector<std::vector<std::string>> ParseCsv(std::string_view text);

// The rows of the rescue report a run left in folder, its heading first.
std::vector<std::vector<std::string>> ReportRows(const std::filesystem::path& folder);

// The same rows after the heading, each as a map from the heading's names.
using NamedRow = std::map<std::string, std::string>;
std::vector<NamedRow> NamedReportRows(const std::filesystem::path& folder);
// The row whose "original name" is name; none when no row has it.
const NamedRow* RowWithOriginalName(const std::vector<NamedRow>& rows, const std::string& name);

// A rescued file put back together from the source image: the sector runs
// of a report row ("first-last first-last ..."), cut to length bytes.
std::vector<std::uint8_t> BytesOfRuns(const std::string& image, const std::string& runs, std::size_t length,
                                      std::size_t sectorBytes = 512);

}  // namespace vellumark::test

// A test that cannot run here (a corpus file, a tool, a loop device,
// /dev/fuse or root rights missing) is skipped with what it lacks, unless
// VELLUMARK_REQUIRE_TOOLS is set (as the full test run and CI do): then the
// same message fails it, so a run that skipped nothing is a run that tested
// everything. The message streams like gtest's: VELLUMARK_CANNOT_RUN("no " << x).
#define VELLUMARK_CANNOT_RUN(message)                                        \
  do {                                                                       \
    if (std::getenv("VELLUMARK_REQUIRE_TOOLS") != nullptr) FAIL() << message; \
    GTEST_SKIP() << message;                                                 \
  } while (0)

// Fixtures made by real tools (mkfs.vfat, mtools, mkntfs) need them installed.
#define VELLUMARK_REQUIRE_TOOL(name)                                                           \
  do {                                                                                         \
    if (!::vellumark::test::HaveTool(name)) VELLUMARK_CANNOT_RUN("needs " << name);            \
  } while (0)

// The same for what a test needs of the machine rather than a program: root,
// loop devices, /dev/fuse. CI has them; under VELLUMARK_REQUIRE_TOOLS a
// machine without them fails the test instead of skipping it.
#define VELLUMARK_REQUIRE(condition, what)                    \
  do {                                                        \
    if (!(condition)) VELLUMARK_CANNOT_RUN("needs " what);    \
  } while (0)
