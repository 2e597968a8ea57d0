#include "access/mount_table.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace vellumark {

std::string UnescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string octal = field.substr(i + 1, 3);
      if (std::all_of(octal.begin(), octal.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        out += static_cast<char>(std::stoi(octal, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::vector<MountEntry> ReadMountInfo(const std::string& path) {
  // id parent major:minor root mount-point options [optional fields...] - type source super-options
  std::vector<MountEntry> mounts;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string id, parent, numbers, root, point, options;
    if (!(fields >> id >> parent >> numbers >> root >> point >> options)) continue;
    unsigned major_ = 0, minor_ = 0;
    if (std::sscanf(numbers.c_str(), "%u:%u", &major_, &minor_) != 2) continue;
    std::string field;
    while (fields >> field && field != "-") {
    }
    MountEntry entry;
    if (!(fields >> entry.fileSystemType >> entry.source)) continue;
    entry.device = makedev(major_, minor_);
    entry.readWrite = options == "rw" || options.starts_with("rw,");
    entry.mountPoint = UnescapeMountField(point);
    entry.source = UnescapeMountField(entry.source);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

}  // namespace vellumark
