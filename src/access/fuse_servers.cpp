#include "access/fuse_servers.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>

namespace vellumark {
namespace {

namespace fs = std::filesystem;

constexpr const char* kFuseDevice = "/dev/fuse";
// " (deleted)" is how the kernel marks a link to a file that has no name left.
constexpr std::string_view kDeletedMark = " (deleted)";

// The kernel's own encoding of a device number, as fdinfo prints it: the
// major number above 20 bits of minor.
std::uint64_t KernelDeviceNumber(std::uint64_t device) {
  return (static_cast<std::uint64_t>(major(device)) << 20) | minor(device);
}

bool AllDigits(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The connection a /dev/fuse descriptor carries, from its fdinfo; none where
// the kernel does not say.
std::optional<std::uint64_t> ConnectionOf(const fs::path& fdinfo) {
  std::ifstream in(fdinfo);
  std::string key;
  while (in >> key) {
    if (key == "fuse_connection:") {
      std::uint64_t number = 0;
      if (in >> number) return number;
      return std::nullopt;
    }
    std::string rest;
    std::getline(in, rest);
  }
  return std::nullopt;
}

// A process's descriptors, or none when they cannot be listed. A process
// that ended meanwhile has none and is no failure.
struct Descriptors {
  bool readable = true;
  std::vector<fs::path> links;
};

Descriptors ListDescriptors(const fs::path& process) {
  Descriptors out;
  std::error_code error;
  fs::directory_iterator it(process / "fd", error);
  if (error) {
    out.readable = error.value() == ENOENT && !fs::exists(process, error);
    return out;
  }
  for (; it != fs::directory_iterator(); it.increment(error)) {
    if (error) break;
    out.links.push_back(it->path());
  }
  if (error && error.value() != ENOENT) out.readable = false;
  return out;
}

std::string LinkText(const fs::path& link) {
  std::error_code error;
  const fs::path target = fs::read_symlink(link, error);
  return error ? std::string() : target.string();
}

}  // namespace

bool IsFuseType(const std::string& fileSystemType) {
  return fileSystemType == "fuse" || fileSystemType == "fuseblk" || fileSystemType.rfind("fuse.", 0) == 0;
}

FuseHoldings FindFuseHoldings(std::uint64_t mountDevice, const SystemView& view) {
  const std::uint64_t connection = KernelDeviceNumber(mountDevice);
  std::vector<fs::path> named;       // the connection is this mount's
  std::vector<fs::path> unlabelled;  // the kernel does not say which connection
  bool unreadable = false;
  std::error_code error;
  for (fs::directory_iterator it(view.procDirectory, error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    const fs::path process = it->path();
    if (!AllDigits(process.filename().string())) continue;
    const Descriptors descriptors = ListDescriptors(process);
    if (!descriptors.readable) unreadable = true;
    bool isNamed = false;
    bool isUnlabelled = false;
    for (const fs::path& link : descriptors.links) {
      if (LinkText(link) != kFuseDevice) continue;
      const auto held = ConnectionOf(process / "fdinfo" / link.filename());
      if (!held) {
        isUnlabelled = true;
      } else if (*held == connection) {
        isNamed = true;
      }
    }
    if (isNamed) named.push_back(process);
    if (isUnlabelled) unlabelled.push_back(process);
  }
  FuseHoldings holdings;
  if (error) return holdings;
  // Without the kernel naming the server, one hidden among processes that
  // could not be read may be the one: nothing can be said then.
  const std::vector<fs::path>& servers = !named.empty() ? named : unreadable ? named : unlabelled;
  if (servers.empty()) return holdings;
  for (const fs::path& server : servers) {
    const Descriptors descriptors = ListDescriptors(server);
    if (!descriptors.readable) return {};
    for (const fs::path& link : descriptors.links) {
      const auto facts = view.stat(link.string());
      if (!facts || !(facts->regularFile || facts->blockDevice || facts->directory)) continue;
      std::string path = LinkText(link);
      if (path.ends_with(kDeletedMark)) path.resize(path.size() - kDeletedMark.size());
      holdings.held.push_back({*facts, std::move(path)});
    }
  }
  holdings.found = true;
  return holdings;
}

}  // namespace vellumark
