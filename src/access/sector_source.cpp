#include "access/sector_source.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vellumark {

SectorSource::SectorSource(std::unique_ptr<PlatformSource> platform)
    : platform_(std::move(platform)), window_(std::make_unique<std::array<std::uint8_t, kWindowSize>>()) {}

OpenResult SectorSource::OpenPartition(const std::string& devicePath, const std::string& displayName) {
  CloseSource();
  // A partition has no drive letter here; the first character of its path
  // stands in so that the letter is never the image marker.
  sourceLetter_ = devicePath.empty() ? 0 : static_cast<char>(std::toupper(static_cast<unsigned char>(devicePath[0])));
  if (!platform_->Open(devicePath)) {
    sourceLetter_ = 0;
    return Failed(slot::kFailedToOpenDrive);
  }
  const auto length = platform_->PartitionLength();
  if (!length || *length < 0) {
    const OpenResult failed = Failed(slot::kFailedToGetParameters);
    CloseSource();
    return failed;
  }
  const auto boot = ProbeBootSector(*platform_);
  std::uint32_t systemSectorSize = platform_->PartitionSectorSize().value_or(512);
  if (systemSectorSize == 0) systemSectorSize = 512;
  FinishOpen(*length, boot, systemSectorSize);
  sourcePath_ = devicePath;
  sourceName_ = displayName;
  return {0, boot.has_value()};
}

OpenResult SectorSource::OpenImageFile(const std::string& path) {
  CloseSource();
  sourceLetter_ = kImageLetter;
  if (!platform_->Open(path)) {
    sourceLetter_ = 0;
    return Failed(slot::kFailedToOpenFile);
  }
  const std::int64_t length = SeekSource(0, SeekOrigin::End);
  if (length < 0) {
    const OpenResult failed = Failed(slot::kFailedToOpenFile);
    CloseSource();
    return failed;
  }
  const auto boot = ProbeBootSector(*platform_);
  FinishOpen(length, boot, 512);
  sourcePath_ = path;
  sourceName_ = path;
  return {0, boot.has_value()};
}

OpenResult SectorSource::Failed(int failureSlot) const {
  OpenResult result;
  result.failureSlot = failureSlot;
  const OpenFailure why = platform_->LastOpenFailure();
  result.systemError = why.systemError;
  switch (why.refused) {
    case RefusedKind::Pipe: result.reasonSlot = slot::kSourceIsPipe; break;
    case RefusedKind::Socket: result.reasonSlot = slot::kSourceIsSocket; break;
    case RefusedKind::CharacterDevice: result.reasonSlot = slot::kSourceIsCharacterDevice; break;
    case RefusedKind::None: break;
  }
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
  if (platform_->IsOpen()) {
    sourceLetter_ = 0;
    platform_->Close();
  }
  windowValid_ = false;
}

std::int64_t SectorSource::ReadableLength() const {
  if (scan_.LastSector < 0) return 0;
  return (scan_.LastSector + 1) * static_cast<std::int64_t>(scan_.BytesPerSector);
}

std::int32_t SectorSource::ReadSectors(void* destination, std::int32_t count, std::int64_t offset) {
  if (count <= 0) return 0;
  if (offset < 0 || !platform_->IsOpen()) return count;
  auto* out = static_cast<std::uint8_t*>(destination);
  const std::int64_t length = ReadableLength();

  for (;;) {
    if (windowValid_ && windowStart_ <= offset && offset < windowStart_ + windowLength_) {
      const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(count, windowStart_ + windowLength_ - offset));
      std::memcpy(out, window_->data() + (offset - windowStart_), static_cast<std::size_t>(n));
      out += n;
      offset += n;
      count -= n;
    }
    if (count == 0) return 0;
    if (offset >= length) return count;

    // Place the window at the request, but never past the end of the source:
    // the last window of a source ends exactly at its last readable byte, and
    // a source shorter than the window loads just what it has.
    const auto loadLength = static_cast<std::int32_t>(std::min<std::int64_t>(kWindowSize, length));
    const std::int64_t start = std::min(offset, length - loadLength);
    if (platform_->Seek(start, SeekOrigin::Begin) != start) return count;
    if (platform_->Read(window_->data(), static_cast<std::size_t>(loadLength)) != loadLength) {
      // The failed read may have overwritten part of the window, so it can no
      // longer be served from.
      windowValid_ = false;
      return count;
    }
    windowStart_ = start;
    windowLength_ = loadLength;
    windowValid_ = true;
  }
}

std::int64_t SectorSource::SeekSource(std::int64_t offset, SeekOrigin origin) {
  return platform_->Seek(offset, origin);
}

bool SectorSource::ReadDirect(void* destination, std::uint32_t count, std::int64_t offset) {
  if (offset < 0 || SeekSource(offset, SeekOrigin::Begin) == -1) return false;
  return platform_->Read(destination, count) == static_cast<std::int64_t>(count);
}

}  // namespace vellumark
