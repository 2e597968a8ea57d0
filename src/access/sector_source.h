#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "access/boot_sector.h"
#include "access/platform_source.h"
#include "access/volume_geometry.h"
#include "common/message_slots.h"
#include "common/page_aligned.h"
#include "common/refusal.h"

namespace vellumark {

// The outcome of an open: which step failed and why (the system's error
// number, the kind of node that is no source, or why a disk service did not
// hand the device over either) or, on success, what the probe of sector 0
// found.
struct OpenResult {
  OpenError error = OpenError::None;
  bool bootSectorRecognised = false;
  int systemError = 0;
  RefusedKind refused = RefusedKind::None;
  AccessRefusal access = AccessRefusal::None;  // when a disk service was asked too

  bool ok() const { return error == OpenError::None; }
};

// The one thing the program reads from: a partition or an image file, its
// geometry, and a 64 KiB read-ahead window that turns sector-by-sector reads
// into one system read per window.
class SectorSource {
 public:
  static constexpr std::int32_t kWindowSize = 65536;
  static constexpr char kImageLetter = '#';

  explicit SectorSource(std::unique_ptr<PlatformSource> platform);

  // Closes what is open, then opens a partition device read-only. displayName
  // is what the drive list shows for it. When the opening fails, what was
  // open before is opened again: a mistyped choice costs the user nothing.
  OpenResult OpenPartition(const std::string& devicePath, const std::string& displayName);
  // Closes what is open, then opens a raw image file read-only; as above,
  // a failure opens again what was open.
  OpenResult OpenImageFile(const std::string& path);
  void CloseSource();
  bool IsOpen() const { return platform_->IsOpen(); }

  // Reads count bytes of whole sectors at a byte offset through the window.
  // Returns the number of bytes not delivered: 0 means all were read. When a
  // window cannot be read whole, it is read again one sector at a time, so
  // that one bad sector fails only the requests that include it; every
  // sector that fails is remembered and never read again.
  std::int32_t ReadSectors(void* destination, std::int32_t count, std::int64_t offset);

  // Direct access past the window, for the boot-sector probe, the hex view and
  // the one-sector fallbacks. Neither uses nor changes the window, but it
  // learns and respects the unreadable sectors.
  std::int64_t SeekSource(std::int64_t offset, SeekOrigin origin);
  bool ReadDirect(void* destination, std::uint32_t count, std::int64_t offset);

  // For a reader on a thread of its own, one large block ahead of the
  // search: count bytes at offset straight from the platform, past the
  // window, learning nothing (the search reads a block that fails again the
  // usual way, which learns). False when not all of them were read. Safe
  // alongside every other read; closing the source waits for it.
  bool ReadAhead(void* destination, std::int64_t count, std::int64_t offset);
  // The same block mapped in place, for an image file the platform maps:
  // none otherwise (the reader then reads it). Its bytes are read only
  // through ReadMapped.
  std::unique_ptr<MappedBytes> MapAhead(std::int64_t offset, std::int64_t count);
  // Runs read over mapped bytes; false when a page failed on the way (the
  // file shrank or the disk failed), and what read found is to be dropped.
  bool ReadMapped(MappedReader read, void* context) { return platform_->ReadMapped(read, context); }
  // The source is about to be read front to back.
  void AdviseSequential() { platform_->AdviseSequential(); }
  // A reader ahead will ask for [offset, offset + count) next: the system
  // may start reading it now. Safe alongside every other read, as ReadAhead.
  void AdviseWillNeed(std::int64_t offset, std::int64_t count);
  // Whether [offset, offset + count) holds a sector known to be unreadable.
  bool HasUnreadableIn(std::int64_t offset, std::int64_t count) const { return FirstUnreadableIn(offset, count) >= 0; }

  // What the reads have met since the source was opened: sectors (of the
  // scan's size) that could not be read, and where the source came to an end
  // before its opened length (it shrank, or its device went away).
  bool IsUnreadable(std::int64_t offset) const { return unreadable_.count(SectorOf(offset)) != 0; }
  const std::set<std::int64_t>& UnreadableSectors() const { return unreadable_; }
  std::optional<std::int64_t> EndedAtSector() const;

  // Bytes that ReadSectors may deliver: whole sectors only.
  std::int64_t ReadableLength() const;

  char SourceLetter() const { return sourceLetter_; }
  const std::string& SourceName() const { return sourceName_; }
  const std::string& SourcePath() const { return sourcePath_; }
  bool IsImageFile() const { return sourceLetter_ == kImageLetter; }
  // Device number of an open partition (none for an image file).
  std::optional<std::uint64_t> SourceDevice() const { return platform_->IsOpen() ? platform_->DeviceNumber() : std::nullopt; }
  // The open file's identity (an image file, or a partition's node).
  std::optional<FileId> SourceFile() const { return platform_->IsOpen() ? platform_->OpenFileId() : std::nullopt; }
  // Where the system has mounted the open source read-write (see
  // PlatformSource::ReadWriteMounts); empty when nothing is open.
  std::vector<std::string> ReadWriteMounts() const {
    return platform_->IsOpen() ? platform_->ReadWriteMounts() : std::vector<std::string>{};
  }

  const VolumeGeometry& OpenedGeometry() const { return opened_; }
  const VolumeGeometry& ScanGeometry() const { return scan_; }
  VolumeGeometry& ScanGeometry() { return scan_; }

 private:
  // What is open, to open again after a failed opening of something else.
  struct OpenSource {
    bool open = false;
    bool image = false;
    std::string path;
    std::string name;
    VolumeGeometry scan;  // with the layout the user chose for it
  };
  OpenSource Current() const;
  void Reopen(const OpenSource& previous);
  OpenResult OpenPartitionAfresh(const std::string& devicePath, const std::string& displayName);
  OpenResult OpenImageFileAfresh(const std::string& path);
  OpenResult Failed(OpenError error) const;
  void FinishOpen(std::int64_t length, const std::optional<BootSectorInfo>& boot,
                  std::uint32_t fallbackBytesPerSector);
  std::int64_t SectorBytes() const { return std::max<std::int64_t>(scan_.BytesPerSector, 1); }
  std::int64_t SectorOf(std::int64_t offset) const { return offset / SectorBytes(); }
  // Bytes that can still be delivered: the opened length, or less once the
  // source has been found to end earlier.
  std::int64_t DeliverableLength() const;
  // The first unreadable byte offset in [offset, offset + count), or -1.
  std::int64_t FirstUnreadableIn(std::int64_t offset, std::int64_t count) const;
  // Loads the window at start: one read, or one per run between known bad
  // sectors; a run that fails is read again sector by sector to find its
  // bad ones.
  void LoadWindow(std::int64_t start, std::int32_t length);
  // Reads count bytes at offset straight from the platform, noting a failure
  // of one sector as unreadable and a short read as the source's end.
  bool ReadAndLearn(std::uint8_t* destination, std::int64_t count, std::int64_t offset);

  std::unique_ptr<PlatformSource> platform_;
  std::mutex aheadMutex_;  // held by ReadAhead and by closing
  char sourceLetter_ = 0;
  std::string sourceName_;
  std::string sourcePath_;
  VolumeGeometry opened_;
  VolumeGeometry scan_;

  PageAlignedBytes window_;
  std::int64_t windowStart_ = 0;
  std::int32_t windowLength_ = 0;
  bool windowValid_ = false;
  std::set<std::int64_t> unreadable_;
  std::optional<std::int64_t> endedAt_;  // byte offset
};

}  // namespace vellumark
