#include "backup/image_backup.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "access/destination_rule.h"
#include "common/sector_number.h"
#include "rescue/percent_text.h"

namespace vellumark {
namespace {

bool WriteAllAt(int fd, const std::uint8_t* data, std::size_t size, std::int64_t offset) {
  while (size > 0) {
    const ssize_t wrote = ::pwrite(fd, data, size, static_cast<off_t>(offset));
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (wrote == 0) return false;
    data += wrote;
    size -= static_cast<std::size_t>(wrote);
    offset += wrote;
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

}  // namespace

ImageBackup::ImageBackup(SectorSource& source, FrontEnd& frontEnd)
    : source_(source), frontEnd_(frontEnd), chunk_(kChunkBytes) {}

int ImageBackup::CheckRange(const BackupRange& range) const {
  const std::int64_t first = ParseSectorNumber(range.firstSectorText);
  const std::int64_t last = ParseSectorNumber(range.lastSectorText);
  if (first < 0 || first > last || last > source_.ScanGeometry().LastSector) return slot::kInvalidBackupRange;
  return 0;
}

void ImageBackup::Report(std::int64_t first, std::int64_t last, std::int64_t current, std::int64_t errors) {
  ProgressReport report;
  report.stage = ProgressStage::Backup;
  report.sector = current;
  report.percentText = PercentText(last - first + 1, current - first);
  report.errors = errors;
  frontEnd_.progress.Report(report);
  frontEnd_.pump.ProcessPendingEvents();
}

ImageBackup::CopyEnd ImageBackup::Copy(int fd, std::int64_t first, std::int64_t last, std::int64_t& errors) {
  const std::int64_t bytes = source_.ScanGeometry().BytesPerSector;
  const std::int64_t perChunk = std::max<std::int64_t>(kChunkBytes / bytes, 1);
  std::int64_t current = first;
  while (stop_ == 0 && current <= last) {
    Report(first, last, current, errors);  // Cancel is taken here, between chunks
    const std::int64_t n = std::min(perChunk, last - current + 1);
    const std::int64_t target = (current - first) * bytes;
    if (n * bytes <= kChunkBytes &&
        source_.ReadSectors(chunk_.data(), static_cast<std::int32_t>(n * bytes), current * bytes) == 0) {
      if (!WriteAllAt(fd, chunk_.data(), static_cast<std::size_t>(n * bytes), target)) return CopyEnd::WriteFailed;
      current += n;
      continue;
    }
    // Sector by sector: the good ones keep their data, the bad ones become
    // zeros at their own place.
    std::vector<std::uint8_t> one(static_cast<std::size_t>(bytes));
    for (std::int64_t i = 0; i < n; ++i, ++current) {
      if (!source_.ReadDirect(one.data(), static_cast<std::uint32_t>(bytes), current * bytes)) {
        std::fill(one.begin(), one.end(), 0);
        ++errors;
      }
      if (!WriteAllAt(fd, one.data(), one.size(), (current - first) * bytes)) return CopyEnd::WriteFailed;
    }
  }
  return current > last ? CopyEnd::Done : CopyEnd::Cancelled;
}

BackupResult ImageBackup::Run(const BackupRange& range, const std::string& targetPath) {
  BackupResult result;
  if (!source_.IsOpen()) return result;
  if (const int refusal = CheckRange(range)) {
    result.refusalSlot = refusal;
    return result;
  }
  if (IsOnSourceDevice(FolderOf(targetPath), source_.SourceDevice())) {
    result.refusalSlot = slot::kImageOnSourceDrive;
    return result;
  }
  result.ran = true;
  const std::int64_t first = ParseSectorNumber(range.firstSectorText);
  const std::int64_t last = ParseSectorNumber(range.lastSectorText);
  const std::int64_t length = (last - first + 1) * static_cast<std::int64_t>(source_.ScanGeometry().BytesPerSector);

  // Cancel counts from the moment the progress window shows, so that one
  // pressed while the image is being reserved is not lost.
  stop_ = 0;
  frontEnd_.progress.StageStarted(ProgressStage::Backup);
  const int fd = ::open(targetPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool reserved = false;
  if (fd >= 0) {
    frontEnd_.pump.ProcessPendingEvents();
    // Really reserve the blocks (not a sparse length), so that a destination
    // without room fails here rather than part-way.
    reserved = ::posix_fallocate(fd, 0, static_cast<off_t>(length)) == 0;
  }
  if (!reserved) {
    if (fd >= 0) ::close(fd);
    frontEnd_.prompt.Show({slot::kNoFreeSpace, slot::kError, {}});
  } else {
    const CopyEnd end = Copy(fd, first, last, result.errors);
    const bool closed = ::close(fd) == 0;
    if (end == CopyEnd::WriteFailed || !closed) {
      frontEnd_.prompt.Show({slot::kNoFreeSpace, slot::kError, {}});
    }
    result.finished = end == CopyEnd::Done && closed;
    if (!result.finished) {
      if (frontEnd_.prompt.AskYesNo({slot::kDeleteUnfinishedTarget, slot::kPrompt, {}})) {
        result.deleted = ::unlink(targetPath.c_str()) == 0;
      }
    } else {
      frontEnd_.prompt.Show({result.errors > 0 ? slot::kFinishedWithBadSectors : slot::kBackupFinished, slot::kPrompt, {}});
    }
  }
  stop_ = 1;
  frontEnd_.progress.StageEnded(ProgressStage::Backup);
  return result;
}

}  // namespace vellumark
