#include "output/output_kind.h"

#include <sys/stat.h>

#include <cerrno>

namespace vellumark {

OutputKind KindOfOutputPath(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    // No name, or a link that leads nowhere, is a new name (a folder on the
    // way that is no folder is found when the file is created). Anything
    // else that cannot be looked at (a loop of links) is not known to be a
    // file.
    return errno == ENOENT || errno == ENOTDIR ? OutputKind::Absent : OutputKind::Other;
  }
  if (S_ISREG(st.st_mode)) return OutputKind::RegularFile;
  if (S_ISDIR(st.st_mode)) return OutputKind::Folder;
  if (S_ISBLK(st.st_mode)) return OutputKind::BlockDevice;
  if (S_ISCHR(st.st_mode)) return OutputKind::CharacterDevice;
  if (S_ISFIFO(st.st_mode)) return OutputKind::Pipe;
  if (S_ISSOCK(st.st_mode)) return OutputKind::Socket;
  return OutputKind::Other;
}

}  // namespace vellumark
