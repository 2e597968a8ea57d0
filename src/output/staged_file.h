#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vellumark {

// A file written into a destination folder that takes its name only once it
// is complete. Its bytes go to a nameless file (O_TMPFILE) or, where the file
// system has none, to a hidden temporary one; a name that already exists is
// never opened, so no link planted under it is ever followed, and a run that
// is killed leaves nothing under a final name.
class StagedFile {
 public:
  enum class Staging : std::uint8_t {
    Nameless,   // O_TMPFILE where the file system has it, else Hidden
    Hidden,     // always a hidden temporary name (file systems without O_TMPFILE)
  };

  // A new empty file in folder; none (errno set) when it cannot be made.
  static std::optional<StagedFile> Create(const std::string& folder, Staging staging = Staging::Nameless);

  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&& other) noexcept;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;
  // Removes the file unless it was published.
  ~StagedFile();

  int Descriptor() const { return fd_; }
  // Appends every byte, or fails.
  bool Append(const void* data, std::size_t size);
  // Writes every byte at offset, or fails.
  bool WriteAt(const void* data, std::size_t size, std::int64_t offset);
  // Really reserves length bytes of blocks, so that a destination without
  // room fails now rather than part-way; errno says why it failed.
  bool Reserve(std::int64_t length);
  // Waits until the bytes are on the disk.
  bool Flush();

  // Gives the file the name path without replacing anything. When path is
  // taken by a regular file with the same bytes, that file stands for this
  // one; otherwise the first free "NAME-2.EXT", "NAME-3.EXT" ... beside it.
  // Returns the path the bytes now have; none when nothing could be named.
  std::optional<std::string> PublishKeepingOthers(const std::string& path);
  // Gives the file the name path, replacing the regular file that has it (a
  // name the user chose); a link there is replaced, never followed. Anything
  // else there (a device node, a pipe, a socket, a folder) is left alone and
  // the call fails (errno EEXIST, or EISDIR for a folder).
  bool PublishReplacing(const std::string& path);

  // Removes from folder the hidden files of runs that died before naming
  // them (killed, or the machine stopped): those whose process no longer
  // runs. Another live run's are left alone.
  static void RemoveAbandoned(const std::string& folder);

 private:
  StagedFile(std::string folder, int fd, std::string hiddenPath);

  // Links the file at path unless path exists: 0, EEXIST or another errno.
  int LinkNoReplace(const std::string& path);
  bool SameBytesAs(const std::string& path) const;
  void Discard();

  std::string folder_;
  int fd_ = -1;
  std::string hiddenPath_;  // empty for a nameless file
  bool published_ = false;
};

// "DIR/NAME.EXT" with "-n" before the extension: "DIR/NAME-n.EXT".
std::string NumberedName(const std::string& path, int n);

}  // namespace vellumark
