#include "backup/image_backup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "access/block_devices.h"
#include "access/destination_rule.h"
#include "common/sector_number.h"
#include "rescue/percent_text.h"

namespace vellumark {
namespace {

std::string FolderOf(const std::string& path) {
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

}  // namespace

ImageBackup::ImageBackup(SectorSource& source, FrontEnd& frontEnd)
    : source_(source), frontEnd_(frontEnd), chunk_(kChunkBytes) {}

Refusal ImageBackup::CheckRange(const BackupRange& range) const {
  const std::int64_t first = ParseSectorNumber(range.firstSectorText);
  const std::int64_t last = ParseSectorNumber(range.lastSectorText);
  if (first < 0 || first > last || last > source_.ScanGeometry().LastSector) return Refusal::BackupRangeInvalid;
  return Refusal::None;
}

void ImageBackup::Report(std::int64_t first, std::int64_t last, std::int64_t current, std::int64_t errors) {
  ProgressReport report;
  report.stage = ProgressStage::Backup;
  report.sector = current;
  report.percentText = PercentText(last - first + 1, current - first);
  report.errors = errors;
  const std::int64_t bytes = source_.ScanGeometry().BytesPerSector;
  if (!pace_) pace_.emplace((last - first + 1) * bytes, RateMeter::Clock::now());
  pace_->Update((current - first) * bytes, RateMeter::Clock::now());
  report.bytesPerSecond = pace_->BytesPerSecond();
  report.secondsLeft = pace_->SecondsLeft();
  frontEnd_.progress.Report(report);
  frontEnd_.pump.ProcessPendingEvents();
}

ImageBackup::CopyEnd ImageBackup::Copy(StagedFile& image, DdrescueMap& map, std::int64_t first, std::int64_t last,
                                       std::int64_t& errors) {
  const std::int64_t bytes = source_.ScanGeometry().BytesPerSector;
  const std::int64_t perChunk = std::max<std::int64_t>(kChunkBytes / bytes, 1);
  std::int64_t current = first;
  pace_.reset();
  while (stop_ == 0 && current <= last) {
    Report(first, last, current, errors);  // Cancel is taken here, between chunks
    const std::int64_t n = std::min(perChunk, last - current + 1);
    const std::int64_t target = (current - first) * bytes;
    if (n * bytes <= kChunkBytes &&
        source_.ReadSectors(chunk_.data(), static_cast<std::int32_t>(n * bytes), current * bytes) == 0) {
      if (!image.WriteAt(chunk_.data(), static_cast<std::size_t>(n * bytes), target)) {
        failure_ = {false, errno};
        return CopyEnd::WriteFailed;
      }
      if (!map.Add(n * bytes, DdrescueMap::Status::Copied)) {
        failure_ = {true, errno};
        return CopyEnd::WriteFailed;
      }
      current += n;
      continue;
    }
    // Sector by sector: the good ones keep their data, the bad ones become
    // zeros at their own place.
    std::vector<std::uint8_t> one(static_cast<std::size_t>(bytes));
    for (std::int64_t i = 0; i < n; ++i, ++current) {
      auto status = DdrescueMap::Status::Copied;
      if (!source_.ReadDirect(one.data(), static_cast<std::uint32_t>(bytes), current * bytes)) {
        std::fill(one.begin(), one.end(), 0);
        status = DdrescueMap::Status::Unreadable;
        ++errors;
      }
      if (!image.WriteAt(one.data(), one.size(), (current - first) * bytes)) {
        failure_ = {false, errno};
        return CopyEnd::WriteFailed;
      }
      if (!map.Add(bytes, status)) {
        failure_ = {true, errno};
        return CopyEnd::WriteFailed;
      }
    }
  }
  return current > last ? CopyEnd::Done : CopyEnd::Cancelled;
}

Refusal ImageBackup::CheckTarget(const std::string& targetPath, BackupResult& result) const {
  // The image and its map replace what has their names: only ever regular
  // files. Writing an image onto a disk is not offered.
  for (const std::string& path : {targetPath, MapPathFor(targetPath)}) {
    if (const OutputKind kind = KindOfOutputPath(path); !OutputMayTake(kind)) {
      result.refusedPath = path;
      result.refusedKind = kind;
      return Refusal::ImageNotAFile;
    }
  }
  const DestinationRule rule(source_);
  for (const std::string& path : {targetPath, MapPathFor(targetPath)}) {
    switch (rule.CheckFile(path)) {
      case DestinationRefusal::None: break;
      case DestinationRefusal::OnSource: return Refusal::ImageOnSource;
      case DestinationRefusal::Unresolved: return Refusal::DestinationUntraced;
    }
  }
  return Refusal::None;
}

void ImageBackup::ShowFailure(int textSlot, const std::string& path, int error) {
  // Room that ran out keeps its own message; the path and reason follow either way.
  if (textSlot != slot::kSectorMapNotWritten && (error == ENOSPC || error == EDQUOT)) textSlot = slot::kNoFreeSpace;
  std::string suffix = textSlot == slot::kSectorMapNotWritten ? path : " " + path;
  if (error != 0) suffix += std::string(": ") + std::strerror(error);
  frontEnd_.prompt.Show({textSlot, slot::kError, suffix});
}

void ImageBackup::PublishMap(DdrescueMap& map, bool mapWhole, BackupResult& result) {
  const std::string path = MapPathFor(result.imagePath);
  // The map's name must not lead to the source either (a source named like
  // the map of the image being written).
  if (mapWhole && DestinationRule(source_).CheckFile(path) == DestinationRefusal::None && map.Publish(path)) {
    result.mapPath = path;
  } else {
    frontEnd_.prompt.Show({slot::kSectorMapNotWritten, slot::kError, path});
  }
}

void ImageBackup::KeepOrDropUnfinished(StagedFile& image, DdrescueMap& map, const std::string& targetPath,
                                       BackupResult& result) {
  if (!abandoned_ && !frontEnd_.prompt.AskYesNo({slot::kDeleteUnfinishedTarget, slot::kPrompt, {}})) {
    // Kept, but never over an image that was already there; its map is on
    // the disk before the image has a name.
    const bool mapWhole = map.Finish();
    result.imagePath = image.PublishKeepingOthers(targetPath).value_or(std::string());
    if (!result.imagePath.empty()) PublishMap(map, mapWhole, result);
    return;
  }
  result.deleted = true;  // the copy had no name yet: dropping it is enough
}

BackupResult ImageBackup::Run(const BackupRange& range, const std::string& targetPath) {
  BackupResult result;
  if (!source_.IsOpen()) return result;
  if (const Refusal refusal = CheckRange(range); refusal != Refusal::None) {
    result.refusal = refusal;
    return result;
  }
  if (const Refusal refusal = CheckTarget(targetPath, result); refusal != Refusal::None) {
    result.refusal = refusal;
    return result;
  }
  result.ran = true;
  const std::int64_t first = ParseSectorNumber(range.firstSectorText);
  const std::int64_t last = ParseSectorNumber(range.lastSectorText);
  const std::int64_t length = (last - first + 1) * static_cast<std::int64_t>(source_.ScanGeometry().BytesPerSector);

  // Cancel counts from the moment the progress window shows, so that one
  // pressed while the image is being reserved is not lost.
  stop_ = 0;
  abandoned_ = false;
  frontEnd_.progress.StageStarted(ProgressStage::Backup);
  // A run killed while renaming an image over an earlier one left its copy
  // under a hidden name: this run takes the folder, so it clears them.
  StagedFile::RemoveAbandoned(FolderOf(targetPath));
  failure_ = {};
  auto image = StagedFile::Create(FolderOf(targetPath));
  if (!image) failure_.error = errno;
  bool reserved = false;
  if (image) {
    frontEnd_.pump.ProcessPendingEvents();
    reserved = image->Reserve(length);
    if (!reserved) failure_.error = errno;
  }
  const std::int64_t bytes = source_.ScanGeometry().BytesPerSector;
  auto map = reserved ? DdrescueMap::Create(FolderOf(targetPath), first * bytes, length, bytes) : std::nullopt;
  if (reserved && !map) failure_ = {true, errno};
  if (!map) {
    if (failure_.inMap) {
      ShowFailure(slot::kSectorMapNotWritten, MapPathFor(targetPath), failure_.error);
    } else {
      ShowFailure(image ? slot::kImageWriteFailed : slot::kImageNotCreated, targetPath, failure_.error);
    }
    image.reset();
  } else {
    const CopyEnd end = Copy(*image, *map, first, last, result.errors);
    result.cancelled = end == CopyEnd::Cancelled;
    // Finished only once every byte is on the disk and the image has its name.
    // The map is made whole on the disk first, so that a run that dies
    // before the image is named leaves no new file at all.
    bool mapWhole = false;
    if (end == CopyEnd::Done) {
      const bool copied = image->Flush();
      mapWhole = copied && map->Finish();
      result.finished = copied && image->PublishReplacing(targetPath);
      if (!result.finished) failure_ = {false, errno};
    }
    if (result.finished) {
      result.imagePath = targetPath;
      // The map replaces any earlier one: beside the image it must describe
      // this copy. It is there before the user is told the backup finished.
      PublishMap(*map, mapWhole, result);
      frontEnd_.prompt.Show({result.errors > 0 ? slot::kFinishedWithBadSectors : slot::kBackupFinished, slot::kPrompt,
                             "\n" + targetPath + "  (" + SizeText(length) + ")"});
      if (result.errors > 0 && !result.mapPath.empty()) {
        frontEnd_.prompt.Show({slot::kSectorsNotCopiedListed, slot::kPrompt, result.mapPath});
      }
    } else {
      if (end != CopyEnd::Cancelled) {
        if (failure_.inMap) {
          ShowFailure(slot::kSectorMapNotWritten, MapPathFor(targetPath), failure_.error);
        } else {
          ShowFailure(slot::kImageWriteFailed, targetPath, failure_.error);
        }
      }
      KeepOrDropUnfinished(*image, *map, targetPath, result);
    }
  }
  stop_ = 1;
  frontEnd_.progress.StageEnded(ProgressStage::Backup);
  return result;
}

}  // namespace vellumark
