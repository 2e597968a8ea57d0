#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "access/sector_source.h"
#include "common/front_end.h"

namespace vellumark {

struct BackupRange {
  std::string firstSectorText;  // decimal sector numbers as typed
  std::string lastSectorText;
};

struct BackupResult {
  bool ran = false;          // false when refused or no source is open
  int refusalSlot = 0;       // the message of a refused request
  bool finished = false;     // every sector of the range reached the image
  std::int64_t errors = 0;   // sectors written as zeros
  bool deleted = false;      // the unfinished image was deleted on request
};

// Copies a sector range of the open source to a raw image file: no header,
// sector k of the image is sector first + k of the source, unreadable sectors
// are written as zeros and counted. The image's whole length is reserved
// before copying, so a destination without room fails at once; a write that
// fails later ends the copy as unfinished. Runs on the caller's thread; the
// progress window's Cancel acts through Cancel() while events run.
class ImageBackup {
 public:
  static constexpr std::int32_t kChunkBytes = 65536;

  ImageBackup(SectorSource& source, FrontEnd& frontEnd);

  // The range check that comes before the save dialog: 0, or the slot of
  // the refusal.
  int CheckRange(const BackupRange& range) const;
  // Checks again, refuses a target on the source device, then copies.
  BackupResult Run(const BackupRange& range, const std::string& targetPath);

  void Cancel() { stop_ = 1; }
  bool Stopped() const { return stop_ != 0; }

 private:
  enum class CopyEnd { Done, Cancelled, WriteFailed };

  CopyEnd Copy(int fd, std::int64_t first, std::int64_t last, std::int64_t& errors);
  void Report(std::int64_t first, std::int64_t last, std::int64_t current, std::int64_t errors);

  SectorSource& source_;
  FrontEnd& frontEnd_;
  std::vector<std::uint8_t> chunk_;
  volatile std::uint8_t stop_ = 1;
};

}  // namespace vellumark
