#include "access/sector_source.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vellumark {

SectorSource::SectorSource(std::unique_ptr<PlatformSource> platform)
    : platform_(std::move(platform)), window_(kWindowSize) {}

SectorSource::OpenSource SectorSource::Current() const {
  return {IsOpen(), sourceLetter_ == kImageLetter, sourcePath_, sourceName_, scan_};
}

// The source that was open is opened the way it was; should that fail too
// (the disk was pulled meanwhile), nothing is open, as after any failure.
void SectorSource::Reopen(const OpenSource& previous) {
  if (!previous.open) return;
  const OpenResult reopened =
      previous.image ? OpenImageFileAfresh(previous.path) : OpenPartitionAfresh(previous.path, previous.name);
  if (reopened.ok() && opened_.LastSector == previous.scan.LastSector) scan_ = previous.scan;
}

OpenResult SectorSource::OpenPartition(const std::string& devicePath, const std::string& displayName) {
  const OpenSource previous = Current();
  const OpenResult result = OpenPartitionAfresh(devicePath, displayName);
  if (!result.ok()) Reopen(previous);
  return result;
}

OpenResult SectorSource::OpenImageFile(const std::string& path) {
  const OpenSource previous = Current();
  const OpenResult result = OpenImageFileAfresh(path);
  if (!result.ok()) Reopen(previous);
  return result;
}

OpenResult SectorSource::OpenPartitionAfresh(const std::string& devicePath, const std::string& displayName) {
  CloseSource();
  // A partition has no drive letter here; the first character of its path
  // stands in so that the letter is never the image marker.
  sourceLetter_ = devicePath.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(devicePath[0])));
  if (!platform_->Open(devicePath)) {
    sourceLetter_ = 0;
    return Failed(OpenError::DriveNotOpened);
  }
  const auto length = platform_->PartitionLength();
  if (!length || *length < 0) {
    const OpenResult failed = Failed(OpenError::DriveParametersUnknown);
    CloseSource();
    return failed;
  }
  const auto boot = ProbeBootSector(*platform_);
  std::uint32_t systemSectorSize = platform_->PartitionSectorSize().value_or(512);
  if (systemSectorSize == 0) systemSectorSize = 512;
  FinishOpen(*length, boot, systemSectorSize);
  sourcePath_ = devicePath;
  sourceName_ = displayName;
  return {OpenError::None, boot.has_value()};
}

OpenResult SectorSource::OpenImageFileAfresh(const std::string& path) {
  CloseSource();
  sourceLetter_ = kImageLetter;
  if (!platform_->Open(path)) {
    sourceLetter_ = 0;
    return Failed(OpenError::FileNotOpened);
  }
  const std::int64_t length = SeekSource(0, SeekOrigin::End);
  if (length <= 0) {
    OpenResult failed = Failed(OpenError::FileNotOpened);
    // An empty file has no sector to show or search: its range would be
    // "0 - -1".
    if (length == 0) {
      failed.refused = RefusedKind::Empty;
      failed.systemError = 0;
    }
    CloseSource();
    return failed;
  }
  const auto boot = ProbeBootSector(*platform_);
  FinishOpen(length, boot, 512);
  sourcePath_ = path;
  sourceName_ = path;
  return {OpenError::None, boot.has_value()};
}

OpenResult SectorSource::Failed(OpenError error) const {
  OpenResult result;
  result.error = error;
  const OpenFailure why = platform_->LastOpenFailure();
  result.systemError = why.systemError;
  result.refused = why.refused;
  result.access = why.access;
  return result;
}

void SectorSource::FinishOpen(std::int64_t length, const std::optional<BootSectorInfo>& boot,
                              std::uint32_t fallbackBytesPerSector) {
  if (boot) {
    opened_.BytesPerSector = boot->BytesPerSector;
    opened_.SectorsPerCluster = boot->SectorsPerCluster;
    opened_.ClusterPhase = boot->ClusterPhase;
    opened_.FileSystemType = boot->FileSystemType;
  } else {
    opened_.FileSystemType = kFileSystemOther;
    opened_.BytesPerSector = fallbackBytesPerSector;
    opened_.SectorsPerCluster = 1;
    opened_.ClusterPhase = -1;
  }
  opened_.LastSector = length / opened_.BytesPerSector - 1;
  scan_ = opened_;
}

void SectorSource::CloseSource() {
  const std::lock_guard<std::mutex> lock(aheadMutex_);
  if (platform_->IsOpen()) {
    sourceLetter_ = 0;
    platform_->Close();
  }
  windowValid_ = false;
  unreadable_.clear();
  endedAt_.reset();
}

std::optional<std::int64_t> SectorSource::EndedAtSector() const {
  if (!endedAt_) return std::nullopt;
  return SectorOf(*endedAt_);
}

std::int64_t SectorSource::DeliverableLength() const {
  const std::int64_t length = ReadableLength();
  // Whole sectors only: a sector cut by the end is not delivered either.
  return endedAt_ ? std::min(length, SectorOf(*endedAt_) * SectorBytes()) : length;
}

std::int64_t SectorSource::FirstUnreadableIn(std::int64_t offset, std::int64_t count) const {
  if (unreadable_.empty() || count <= 0) return -1;
  const auto it = unreadable_.lower_bound(SectorOf(offset));
  if (it == unreadable_.end() || *it * SectorBytes() >= offset + count) return -1;
  return std::max(offset, *it * SectorBytes());
}

bool SectorSource::ReadAndLearn(std::uint8_t* destination, std::int64_t count, std::int64_t offset) {
  if (platform_->Seek(offset, SeekOrigin::Begin) != offset) return false;
  const std::int64_t got = platform_->Read(destination, static_cast<std::size_t>(count));
  if (got == count) return true;
  if (got < 0) {
    if (count == SectorBytes() && offset % SectorBytes() == 0) {
      // A cached read fails for every sector of the page that holds a bad
      // one: only a sector that fails past the cache too is unreadable.
      if (platform_->ReadUncached(destination, static_cast<std::size_t>(count), offset) == count) return true;
      unreadable_.insert(SectorOf(offset));
    }
  } else if (offset + got < ReadableLength()) {
    // The platform reports the end of the source before its opened length.
    // A source that shrank may now end well below this read (the carving
    // reads its highest hits first, and the search's blocks may have been
    // brought before the cut): where it ends is asked, so that the sector
    // named is the first one it no longer has.
    std::int64_t end = offset + got;
    if (const auto length = platform_->PartitionLength(); length && *length >= 0) end = std::min(end, *length);
    endedAt_ = std::min(endedAt_.value_or(INT64_MAX), end);
  }
  return false;
}

void SectorSource::LoadWindow(std::int64_t start, std::int32_t length) {
  const std::int64_t bytes = SectorBytes();
  const std::int64_t end = start + length;
  std::int64_t at = start;
  while (at < end && at < DeliverableLength()) {
    std::uint8_t* into = window_.data() + (at - start);
    if (unreadable_.count(SectorOf(at)) != 0) {
      // Served as a failure; the zeros only keep stale bytes out of the window.
      std::fill(into, into + bytes, std::uint8_t{0});
      at += bytes;
      continue;
    }
    // The readable run up to the next known bad sector, in one read.
    const std::int64_t bad = FirstUnreadableIn(at, end - at);
    const std::int64_t runEnd = std::min(bad < 0 ? end : bad, DeliverableLength());
    if (ReadAndLearn(into, runEnd - at, at)) {
      at = runEnd;
      continue;
    }
    // Some sector of the run fails: each is read on its own to find which.
    for (; at < runEnd && at < DeliverableLength(); at += bytes) {
      into = window_.data() + (at - start);
      if (!ReadAndLearn(into, bytes, at)) std::fill(into, into + bytes, std::uint8_t{0});
    }
  }
  windowStart_ = start;
  windowLength_ = static_cast<std::int32_t>(std::min(at, end) - start);
  windowValid_ = windowLength_ > 0;
}

std::int64_t SectorSource::ReadableLength() const {
  if (scan_.LastSector < 0) return 0;
  return (scan_.LastSector + 1) * static_cast<std::int64_t>(scan_.BytesPerSector);
}

std::int32_t SectorSource::ReadSectors(void* destination, std::int32_t count, std::int64_t offset) {
  if (count <= 0) return 0;
  if (offset < 0 || !platform_->IsOpen()) return count;
  auto* out = static_cast<std::uint8_t*>(destination);

  for (;;) {
    const std::int64_t length = DeliverableLength();
    if (windowValid_ && windowStart_ <= offset && offset < windowStart_ + windowLength_) {
      auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, windowStart_ + windowLength_ - offset));
      // Up to the first unreadable sector, which ends the delivery.
      const std::int64_t bad = FirstUnreadableIn(offset, n);
      if (bad >= 0) n = static_cast<std::int32_t>(bad - offset);
      std::memcpy(out, window_.data() + (offset - windowStart_), static_cast<std::size_t>(n));
      out += n;
      offset += n;
      count -= n;
      if (bad >= 0) return count;
    }
    if (count == 0) return 0;
    if (offset >= length) return count;

    // Place the window at the request, but never past the end of the source:
    // the last window of a source ends exactly at its last readable byte, and
    // a source shorter than the window loads just what it has.
    const auto loadLength = static_cast<std::int32_t>(std::min<std::int64_t>(kWindowSize, length));
    std::int64_t start = std::min(offset, length - loadLength);
    // A request just below the window: the reads walk backwards, as the
    // carving does from its highest hit down. The window then ends an eighth
    // of its length after the request, so that the hits below it, and the
    // first sectors each attempt reads after its hit, share one read instead
    // of one read each.
    if (windowValid_ && offset < windowStart_ && windowStart_ - offset <= loadLength) {
      start = std::clamp<std::int64_t>(offset + loadLength / 8 - loadLength, 0, length - loadLength);
    }
    LoadWindow(start, loadLength);
    if (!windowValid_ || offset < windowStart_ || offset >= windowStart_ + windowLength_) return count;
  }
}

std::int64_t SectorSource::SeekSource(std::int64_t offset, SeekOrigin origin) {
  return platform_->Seek(offset, origin);
}

bool SectorSource::ReadAhead(void* destination, std::int64_t count, std::int64_t offset) {
  const std::lock_guard<std::mutex> lock(aheadMutex_);
  if (count <= 0 || offset < 0 || !platform_->IsOpen()) return false;
  return platform_->ReadAt(destination, static_cast<std::size_t>(count), offset) == count;
}

void SectorSource::AdviseWillNeed(std::int64_t offset, std::int64_t count) {
  const std::lock_guard<std::mutex> lock(aheadMutex_);
  if (platform_->IsOpen()) platform_->AdviseWillNeed(offset, count);
}

std::unique_ptr<MappedBytes> SectorSource::MapAhead(std::int64_t offset, std::int64_t count) {
  const std::lock_guard<std::mutex> lock(aheadMutex_);
  if (count <= 0 || offset < 0 || !platform_->IsOpen()) return nullptr;
  return platform_->Map(offset, count);
}

bool SectorSource::ReadDirect(void* destination, std::uint32_t count, std::int64_t offset) {
  if (offset < 0 || !platform_->IsOpen() || FirstUnreadableIn(offset, count) >= 0) return false;
  return ReadAndLearn(static_cast<std::uint8_t*>(destination), count, offset);
}

}  // namespace vellumark
