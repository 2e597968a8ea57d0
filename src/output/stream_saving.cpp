#include "output/stream_saving.h"

#include <cerrno>
#include <filesystem>
#include <thread>

#include "output/staged_file.h"

namespace vellumark {

std::optional<std::string> SaveStreamWithRetry(const std::uint8_t* data, std::size_t size, const std::string& path,
                                               std::chrono::milliseconds retryDelay, int attempts) {
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::optional<StagedFile> file;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    file = StagedFile::Create(folder);
    if (file) break;
    if (attempt + 1 < attempts) std::this_thread::sleep_for(retryDelay);
  }
  if (!file) return std::nullopt;
  // A document counts as rescued only when all of it is on the disk; an
  // unnamed partial file vanishes with the StagedFile.
  std::optional<std::string> saved;
  if (file->Append(data, size)) saved = file->PublishKeepingOthers(path);
  const int reason = errno;
  file.reset();
  errno = reason;
  return saved;
}

}  // namespace vellumark
