#include "access/volume_geometry.h"

namespace vellumark {

const char* FileSystemTypeName(std::uint8_t type) {
  switch (type) {
    case kFileSystemFat: return "FAT";
    case kFileSystemFat32: return "FAT32";
    case kFileSystemNtfs: return "NTFS";
    default: return "OTHER";
  }
}

}  // namespace vellumark
