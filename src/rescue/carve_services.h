#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/byte_order.h"
#include "common/byte_view.h"
#include "output/output_names.h"
#include "output/stream_saving.h"
#include "rescue/rescue_run.h"

namespace vellumark {

// Growth steps of the file image.
inline constexpr std::uint32_t kGrowthLarge = 0x100000;  // compound documents, JPEG
inline constexpr std::uint32_t kGrowthSmall = 0x10000;   // ASF object walk, MP4, RAR, ZIP
inline constexpr std::uint32_t kGrowthNone = 0;          // carvers that read the hit sector only

// The sectors one carve attempt has claimed, in the order claimed.
class ClaimList {
 public:
  void Add(std::int64_t sector) { sectors_.push_back(sector); }
  void Clear() { sectors_.clear(); }
  bool Empty() const { return sectors_.empty(); }
  void RemoveLast() { sectors_.pop_back(); }
  const std::vector<std::int64_t>& Sectors() const { return sectors_; }

 private:
  std::vector<std::int64_t> sectors_;
};

// One carve attempt and the protocol every carver follows: the hit sector is
// claimed first; LoadUpTo rebuilds the file from the unclaimed sectors after
// it; on failure (the default, also when the walk returns early) every claim
// is released when the attempt ends; on success the claims stay and the rest
// of the last cluster is claimed as slack.
class CarveAttempt {
 public:
  CarveAttempt(RescueRun& run, std::int64_t hitOffset, std::uint32_t growthStep);
  ~CarveAttempt();
  CarveAttempt(const CarveAttempt&) = delete;
  CarveAttempt& operator=(const CarveAttempt&) = delete;

  // Claims and reads the hit sector. False when the hit sector is already
  // claimed (then nothing at all happens) or cannot be read.
  bool Start();
  // Loads sectors until the image holds at least bytes; false when the
  // source ends or fails. A sector that cannot be read is still part of the
  // file: it is loaded as zeros and noted in UnreadableSectors. When the free
  // sectors left cannot bring the image that far, false at once, with nothing
  // read and the position at the end of the source.
  bool LoadUpTo(std::int64_t bytes);
  // Whether the free sectors left could bring the image up to bytes; when
  // not, any walk that needs that many fails.
  bool CanReach(std::int64_t bytes) const;
  // Whether the walk has passed the source's last sector (as opposed to a
  // read having failed).
  bool AtSourceEnd() const { return position_ / bytesPerSector_ > run_.LastSourceSector(); }
  // Loads exactly one more sector.
  bool LoadOneMore() { return LoadUpTo(loaded_ + 1); }
  // The sector the next load would read: the position, moved past sectors
  // other files have claimed; beyond the last sector when none is left.
  std::int64_t NextFreeSector();
  // Passes, unread and for now unclaimed, the sectors from the next free one
  // through lastSector, which an earlier attempt has been through already
  // (see CarveMemory): the free ones among them are claimed only if this
  // attempt succeeds, as a failed one would release them anyway, and they
  // are not among Claims(). The image does not hold them.
  void PassUnclaimed(std::int64_t lastSector);
  // Accounts for the next sector of the file without reading it: steps over
  // sectors another file has claimed and claims the next free one. False
  // when the source has ended.
  bool ClaimAhead();
  // Claims, unread, the sectors of a file whose whole length the format
  // declares up front; the hit sector counts as the first. Stops quietly
  // where the source ends.
  void ClaimDeclaredLength(std::uint64_t length);
  // Shows the position as progress each time count reaches a multiple of
  // 200 sectors, letting the window's buttons act.
  void ProgressEvery200Sectors(std::int64_t count);
  // Loads the run of free sectors the load needs next with one read;
  // false, and nothing loaded, when there is no run of two or its read
  // fails (then wholeRuns is cleared).
  bool LoadRun(std::int64_t bytes, bool& wholeRuns);
  // Reports the position now, for loops with their own cadence.
  void ReportProgress();
  // Drops the first bytes of the image (the walk has passed them), keeping
  // the rest at the front.
  void DropImageFront(std::int64_t bytes);

  // For walks over length-prefixed structures (boxes, blocks, objects) that
  // start at image offset start and span size bytes: the middle of a long
  // one is passed unread (PassFreeSectors: claimed if the walk succeeds)
  // and only its last one or two sectors are read, so
  // the sector holding whatever follows is always in the image. Returns the
  // image offset just after the structure (the claimed middle is not in the
  // image), or -1 when the source ends or a read fails.
  std::int64_t PassStructure(std::int64_t start, std::int64_t size);
  // For formats whose end shows only in what follows (the next frame that is
  // not there, a next member that is not one): gives back the sectors loaded
  // since the last unread claim that lie wholly at or after image offset end
  // (negative when the image's front has been dropped past it), so that the
  // look beyond the file's end claims nothing. The hit sector stays.
  void GiveBackFrom(std::int64_t end);
  // Keeps the image of a long walk near 60 sectors: once offset is beyond
  // that, whole sectors before it are dropped and progress is shown.
  // Returns offset as it now lies in the image.
  std::int64_t CutBack(std::int64_t offset);
  // Gives back the last sectors claimed (never the hit sector), for walks
  // that looked past the end of their file to find it: their claims are
  // released, those in the image leave it, and the position returns to just
  // after the last sector kept.
  void GiveBack(std::int64_t sectors);
  // The walk succeeded: the claims stay.
  void Succeed() {
    ClaimPassed();
    claims_.Clear();
    succeeded_ = true;
  }

  // Claims unread, for now, the next count free sectors, stepping over
  // claimed ones, without a step per sector: they are claimed if the walk
  // succeeds (see PassUnclaimed). False, with the position at the end of
  // the source, when fewer are left.
  bool PassFreeSectors(std::int64_t count);
  // Whether sectors were passed unread and unclaimed.
  bool HasPassed() const { return !passed_.empty(); }

  // Chained walks (chunks, blocks, boxes, members) tell each link of their
  // chain as they come to it, by where it starts in the image (and for a bit
  // stream the bit). False when an earlier walk of that chain found that
  // from there on it fails: then this walk fails too, at once. When this
  // walk fails, every link it came to becomes such a dead end, unless it
  // said NotPositional.
  bool Reached(CarveMemory::Chain chain, std::int64_t imageOffset, int bit = 0);
  // The walk fails for a reason that depends on what came before its
  // links (a count or size limit reached, a total that does not match, data
  // that may refer back): its links are not dead ends for other walks.
  void NotPositional() { positional_ = false; }
  // The source byte that image offset (within what is loaded) holds; -1
  // when outside it.
  std::int64_t SourceOffsetOf(std::int64_t imageOffset) const;

  // Drops image bytes beyond size (never below what is loaded).
  void CutImage(std::int64_t size);

  // For walks that load every sector of their file (nothing claimed unread,
  // nothing cut back), so that image sector i is the i-th claim:
  // Leaves count loaded sectors out of the file from image sector first on
  // (foreign data found inside it): their claims are released and the
  // image closes over them.
  void ExcludeLoadedSectors(std::int64_t first, std::int64_t count);
  // The file ends after bytes: sectors loaded beyond it are released and
  // the position moves back to just after its last sector.
  void KeepOnly(std::int64_t bytes);

  const std::uint8_t* Image() const { return image_.data(); }
  // What is loaded, for walks to read through: a read past it fails instead
  // of reaching beyond the image.
  ByteView View() const {
    return ByteView(image_.data(), std::min(static_cast<std::size_t>(loaded_), image_.size()));
  }
  std::int64_t Loaded() const { return loaded_; }
  std::int64_t Position() const { return position_; }
  std::int64_t HitOffset() const { return hitOffset_; }
  RescueRun& Run() { return run_; }
  const ClaimList& Claims() const { return claims_; }
  // Source sectors loaded as zeros because they could not be read.
  const std::vector<std::int64_t>& UnreadableSectors() const { return unreadable_; }

 private:
  void Claim(std::int64_t sector);
  // Steps over sectors other files have claimed and claims the next free
  // one for this file, at the position; false when the source has ended.
  bool ClaimNextFree();
  // Moves the position past sectors other files have claimed; false when
  // the source has ended.
  bool StepOverClaimed();
  void ClaimPassed();
  void ClaimSlack();

  RescueRun& run_;
  const std::int64_t hitOffset_;
  const std::int64_t bytesPerSector_;
  const std::uint32_t growthStep_;
  std::int64_t position_;
  std::int64_t loaded_ = 0;
  std::int64_t loadedSinceClaimAhead_ = 0;  // sectors GiveBackFrom may release
  std::vector<std::uint8_t> image_;
  ClaimList claims_;
  std::vector<std::int64_t> unreadable_;
  std::vector<std::pair<std::int64_t, std::int64_t>> passed_;  // first and last sector, see PassUnclaimed
  std::deque<std::int64_t> imageSectors_;  // the source sector of each sector of the image
  std::vector<std::uint64_t> points_;      // links of the chain come to, see Reached
  bool positional_ = true;
  bool leftHoles_ = false;  // sectors inside the file were left out of it
  std::int64_t lastRead_ = -1;  // the source sector read last
  bool started_ = false;
  bool succeeded_ = false;
};

// Forward access by file offset for formats whose structures point ahead
// (section tables at the end of a program, a TIFF's directories, a font's
// tables): the bytes asked for are loaded, whole sectors before them that
// were not loaded yet are passed unread (claimed if the walk succeeds), and
// sectors far behind are dropped,
// so the image stays near 64 sectors plus the longest structure asked for.
// Bytes behind what is still in the image cannot be asked for again: walks
// take their structures in ascending order.
class ForwardWindow {
 public:
  // After attempt.Start(): the image holds the hit sector, file offset 0.
  explicit ForwardWindow(CarveAttempt& attempt) : attempt_(attempt) {}
  // Bytes [offset, offset + length) of the file, or none when they lie
  // behind the image, are longer than kLongestRequest, or the source ends or
  // fails before them. Valid until the next call.
  std::optional<ByteView> At(std::uint64_t offset, std::uint64_t length);
  // The file ends at end: passes unread what is not loaded before it and
  // gives back the sectors loaded past it (a walk may have looked beyond its
  // file's end for a structure that was not there). False when the source
  // ends first, which leaves the file incomplete, and when the end lies
  // before the image in sectors passed, which cannot be given back.
  bool ClaimTo(std::uint64_t end);
  // For chained walks: see CarveAttempt::Reached; the bytes at offset must
  // have been asked for last.
  bool Reached(CarveMemory::Chain chain, std::uint64_t offset, int bit = 0) {
    return offset < start_ || attempt_.Reached(chain, static_cast<std::int64_t>(offset - start_), bit);
  }
  // The file offset up to which sectors have been claimed.
  std::uint64_t Covered() const { return start_ + static_cast<std::uint64_t>(attempt_.Loaded()); }

  static constexpr std::uint64_t kLongestRequest = 4 << 20;
  CarveAttempt& Attempt() { return attempt_; }

 private:
  // Claims unread the whole sectors before offset and restarts the image
  // there. False when the source ends.
  bool SkipTo(std::uint64_t offset);

  CarveAttempt& attempt_;
  std::uint64_t start_ = 0;  // the file offset of the image's first byte
};

// Saves a rescued document under record.outputName (or the numbered name
// beside it) and keeps the run's account: the rescued count, or the count of
// documents not written and the first reason. Once a save has failed, later
// ones are tried once instead of waiting through retries, since a folder
// that refused one file rarely takes the next.
void SaveDocument(RescueRun& run, DocumentRecord& record, const std::uint8_t* data, std::size_t size);

// Saves the text read from a document that could not be rebuilt, the same
// way, except that it does not count as a rescued document: the count is of
// documents written whole or as they were found.
void SaveText(RescueRun& run, DocumentRecord& record, const std::string& text);

// Whether the four-byte type tag at at (an MP4 box type) is one of the
// given ones, compared exactly; false when the view ends first.
inline bool TagIsOneOf(ByteView bytes, std::uint64_t at, std::initializer_list<const char*> tags) {
  for (const char* candidate : tags) {
    if (bytes.Equals(at, std::string_view(candidate, 4))) return true;
  }
  return false;
}

}  // namespace vellumark
