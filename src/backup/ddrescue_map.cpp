#include "backup/ddrescue_map.h"

#include <cinttypes>
#include <cstdio>
#include <string>
#include <utility>

namespace vellumark {
namespace {

// The current-position line has a fixed width, so that Finish can write
// the final one over the first in place.
constexpr const char* kPositionLine = "0x%016" PRIX64 "     %c               1\n";
constexpr std::size_t kPositionLineLength = 2 + 16 + 5 + 1 + 15 + 1 + 1;

std::string Format(const char* format, auto... values) {
  char line[160];
  const int n = std::snprintf(line, sizeof line, format, values...);
  return std::string(line, static_cast<std::size_t>(n > 0 ? n : 0));
}

}  // namespace

DdrescueMap::DdrescueMap(StagedFile file, std::int64_t start, std::int64_t size, std::int64_t positionLine)
    : file_(std::move(file)), end_(start + size), positionLine_(positionLine), blockStart_(start) {}

std::optional<DdrescueMap> DdrescueMap::Create(const std::string& folder, std::int64_t start, std::int64_t size,
                                               std::int64_t sectorBytes) {
  auto file = StagedFile::Create(folder);
  if (!file) return std::nullopt;
  const std::string head =
      "# Mapfile. Created by Vellumark's image backup (GNU ddrescue's format).\n"
      "# Positions are bytes of the source; the image holds the source from\n" +
      Format("# byte %" PRId64 " on. To retry the unreadable sectors into the image:\n", start) +
      Format("#   ddrescue -b %" PRId64 " -r3 -i %" PRId64 " -o 0 -s %" PRId64 " SOURCE IMAGE IMAGE.map\n",
             sectorBytes, start, size) +
      "# current_pos  current_status  current_pass\n";
  const std::string position = Format(kPositionLine, static_cast<std::uint64_t>(start), '?');
  const std::string blocks = "#      pos        size  status\n";
  if (position.size() != kPositionLineLength || !file->Append(head.data(), head.size()) ||
      !file->Append(position.data(), position.size()) || !file->Append(blocks.data(), blocks.size())) {
    return std::nullopt;
  }
  return DdrescueMap(std::move(*file), start, size, static_cast<std::int64_t>(head.size()));
}

bool DdrescueMap::WriteBlock(std::int64_t position, std::int64_t size, Status status) {
  const std::string line = Format("0x%08" PRIX64 "  0x%08" PRIX64 "  %c\n", static_cast<std::uint64_t>(position),
                                  static_cast<std::uint64_t>(size), static_cast<char>(status));
  return file_.Append(line.data(), line.size());
}

bool DdrescueMap::Add(std::int64_t bytes, Status status) {
  if (bytes <= 0) return true;
  if (blockSize_ > 0 && status != blockStatus_) {
    if (!WriteBlock(blockStart_, blockSize_, blockStatus_)) return false;
    blockStart_ += blockSize_;
    blockSize_ = 0;
  }
  blockStatus_ = status;
  blockSize_ += bytes;
  return true;
}

bool DdrescueMap::Finish() {
  const std::int64_t reached = blockStart_ + blockSize_;
  if (blockSize_ > 0 && !WriteBlock(blockStart_, blockSize_, blockStatus_)) return false;
  if (reached < end_ && !WriteBlock(reached, end_ - reached, Status::NotTried)) return false;
  blockStart_ = end_;
  blockSize_ = 0;
  // '+' says the copy is over; '?' that it stopped while copying, at reached.
  const std::string position = Format(kPositionLine, static_cast<std::uint64_t>(reached), reached < end_ ? '?' : '+');
  return file_.WriteAt(position.data(), position.size(), positionLine_) && file_.Flush();
}

bool DdrescueMap::Publish(const std::string& path) { return file_.PublishReplacing(path); }

}  // namespace vellumark
