#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vellumark {

// One line of /proc/self/mountinfo.
struct MountEntry {
  std::uint64_t device = 0;  // the file system's device number, as stat reports it
  std::string mountPoint;
  std::string fileSystemType;
  std::string source;        // /dev/sdb1, /dev/mapper/root, tmpfs ...
  bool readWrite = false;    // the mount's own options: "rw", not "ro"
};

// The system's mount tables escape blanks and a few other bytes as \ooo.
std::string UnescapeMountField(const std::string& field);

// The mounts listed in a mountinfo file, in its order (later mounts over
// earlier ones at the same point).
std::vector<MountEntry> ReadMountInfo(const std::string& path);

}  // namespace vellumark
