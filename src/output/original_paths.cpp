#include "output/original_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

namespace vellumark {

namespace {

constexpr std::size_t kLongestPart = 200;
constexpr int kMostNumbers = 10'000;

std::string SafePart(std::string_view part) {
  std::string safe;
  for (const char c : part) {
    const auto byte = static_cast<unsigned char>(c);
    const bool refused = byte < 0x20 || byte == 0x7F || std::string_view("<>:\"|?*").find(c) != std::string_view::npos;
    safe += refused ? '_' : c;
  }
  // Windows drops trailing dots and spaces, and a name of dots is a link
  // to a folder elsewhere.
  while (!safe.empty() && (safe.back() == '.' || safe.back() == ' ')) safe.pop_back();
  if (safe.size() > kLongestPart) {
    std::size_t cut = kLongestPart;
    while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
    safe.resize(cut);
  }
  return safe;
}

std::vector<std::string> SafeParts(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find_first_of("/\\", start);
    if (end == std::string::npos) end = path.size();
    const std::string part = SafePart(std::string_view(path).substr(start, end - start));
    if (!part.empty()) parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

// "name-2.ext" for the second file of a name.
std::string Numbered(const std::string& name, int number) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + "-" + std::to_string(number);
  return name.substr(0, dot) + "-" + std::to_string(number) + name.substr(dot);
}

}  // namespace

std::string SafeRelativePath(const std::string& folder, const std::string& name) {
  std::string path;
  for (const std::string& part : SafeParts(folder)) path += part + "/";
  std::string file;
  for (const std::string& part : SafeParts(name)) file += (file.empty() ? "" : "_") + part;
  return path + (file.empty() ? "_" : file);
}

std::optional<std::string> MoveToOriginalPath(const std::string& from, const std::string& saveFolder,
                                              const std::string& relative) {
  std::string folder = saveFolder;
  if (!folder.empty() && folder.back() != '/') folder += '/';
  std::string name = relative;
  const std::size_t slash = relative.rfind('/');
  if (slash != std::string::npos) {
    name = relative.substr(slash + 1);
    // Each folder made here, or one already there that is a folder and no
    // link: a link planted in the destination is never followed.
    for (const std::string& part : SafeParts(relative.substr(0, slash))) {
      folder += part;
      // Asked without a trailing slash, which would follow a link.
      struct stat st {};
      if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST) return std::nullopt;
      if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return std::nullopt;
      folder += "/";
    }
  }
  // Renamed without replacing what has the name; where the file system
  // cannot be asked that, a hard link never replaces either, and the old
  // name goes after.
  for (int number = 1; number <= kMostNumbers; ++number) {
    const std::string to = folder + (number == 1 ? name : Numbered(name, number));
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return to;
    if (errno == EINVAL || errno == ENOSYS) {
      if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return to;
      }
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace vellumark
