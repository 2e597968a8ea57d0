#pragma once

#include <cstdint>
#include <string>

namespace vellumark {

// What a path names, links followed, as far as writing a named output there
// is concerned. A named output (the report, an image, its map) is only ever
// a regular file: publishing renames a finished file over the name, which
// would turn a device node, a pipe or a socket into a plain file and leave
// whatever used it without it, and a folder cannot be replaced at all.
enum class OutputKind : std::uint8_t {
  Absent,       // nothing there, or a link that leads nowhere (the link itself is replaced)
  RegularFile,
  Folder,
  BlockDevice,
  CharacterDevice,
  Pipe,
  Socket,
  Other,
};

OutputKind KindOfOutputPath(const std::string& path);

// Whether a named output may take the name: nothing there yet, or a regular file.
inline bool OutputMayTake(OutputKind kind) { return kind == OutputKind::Absent || kind == OutputKind::RegularFile; }

}  // namespace vellumark
