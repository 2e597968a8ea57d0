#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vellumark {

// Keeps a destination folder to one run at a time: an exclusive flock on a
// lock file in it, held for the run and removed at its end.
class FolderLock {
 public:
  static constexpr const char* kFileName = ".vellumark-lock";

  enum class Outcome : std::uint8_t { Locked, Busy, Failed };

  FolderLock() = default;
  FolderLock(FolderLock&& other) noexcept;
  FolderLock& operator=(FolderLock&& other) noexcept;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  // Takes the folder's lock without waiting: Busy when another run holds
  // it, Failed (errno set) when no lock file can be made there.
  Outcome Acquire(const std::string& folder);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace vellumark
