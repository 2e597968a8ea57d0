#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "access/sector_source.h"
#include "backup/ddrescue_map.h"
#include "common/front_end.h"
#include "common/rate_meter.h"
#include "common/refusal.h"
#include "output/output_kind.h"
#include "output/staged_file.h"

namespace vellumark {

struct BackupRange {
  std::string firstSectorText;  // decimal sector numbers as typed
  std::string lastSectorText;
};

struct BackupResult {
  bool ran = false;          // false when refused or no source is open
  Refusal refusal = Refusal::None;  // why the request was refused
  bool finished = false;     // every sector of the range reached the image
  bool cancelled = false;    // ended by Cancel or Abandon rather than by a failure
  std::int64_t errors = 0;   // sectors written as zeros
  bool deleted = false;      // the unfinished image was deleted on request
  std::string imagePath;     // where the image is now; empty when none was kept
  std::string mapPath;       // its map of unreadable and uncopied sectors; empty when none was written
  // For ImageNotAFile: the path refused (the image's or its map's) and what it is.
  std::string refusedPath;
  OutputKind refusedKind = OutputKind::Absent;
};

// The name of the map beside an image: "IMAGE.map", as ddrescue users name theirs.
inline std::string MapPathFor(const std::string& imagePath) { return imagePath + ".map"; }

// Copies a sector range of the open source to a raw image file: no header,
// sector k of the image is sector first + k of the source, unreadable sectors
// are written as zeros and counted. Beside the image, IMAGE.map lists in GNU
// ddrescue's format which sectors it holds, which are zeros because they
// could not be read, and (for an unfinished image that is kept) which were
// never copied, so that ddrescue can retry or finish the copy later. The
// image's whole length is reserved
// before copying, so a destination without room fails at once; a write that
// fails later ends the copy as unfinished. The copy is made in a file of its
// own beside the target and takes the target's name only when complete, so a
// failed or cancelled backup leaves an earlier image of that name as it was;
// an unfinished copy the user keeps goes to the first free numbered name.
// Runs on the caller's thread; the progress window's Cancel acts through
// Cancel() while events run.
class ImageBackup {
 public:
  static constexpr std::int32_t kChunkBytes = 65536;

  ImageBackup(SectorSource& source, FrontEnd& frontEnd);

  // The range check that comes before the save dialog.
  Refusal CheckRange(const BackupRange& range) const;
  // What Run would refuse the target for (the refused path and its kind in
  // result), so that nothing is asked about a target that cannot be written.
  Refusal CheckTarget(const std::string& targetPath, BackupResult& result) const;
  // Checks again, refuses a target on the source device, then copies.
  BackupResult Run(const BackupRange& range, const std::string& targetPath);

  void Cancel() { stop_ = 1; }
  // Cancels without asking: the unfinished copy is dropped (the program is
  // being ended, and nobody may be there to answer).
  void Abandon() {
    abandoned_ = true;
    stop_ = 1;
  }
  bool Stopped() const { return stop_ != 0; }

 private:
  enum class CopyEnd { Done, Cancelled, WriteFailed };
  // Which file a write failed on, and the system's reason.
  struct WriteFailure {
    bool inMap = false;
    int error = 0;
  };

  // Tells why the copy could not go on: the path and the system's reason.
  void ShowFailure(int textSlot, const std::string& path, int error);

  CopyEnd Copy(StagedFile& image, DdrescueMap& map, std::int64_t first, std::int64_t last, std::int64_t& errors);
  void KeepOrDropUnfinished(StagedFile& image, DdrescueMap& map, const std::string& targetPath, BackupResult& result);
  // Names the map after the image it describes; shows why when it cannot.
  void PublishMap(DdrescueMap& map, bool mapWhole, BackupResult& result);
  void Report(std::int64_t first, std::int64_t last, std::int64_t current, std::int64_t errors);

  SectorSource& source_;
  FrontEnd& frontEnd_;
  std::vector<std::uint8_t> chunk_;
  std::optional<RateMeter> pace_;
  WriteFailure failure_;
  volatile std::uint8_t stop_ = 1;
  volatile bool abandoned_ = false;
};

}  // namespace vellumark
