#pragma once

#include <cstdint>
#include <map>
#include <optional>

namespace vellumark {

// What the carve attempts of one run have found out about the sectors ahead
// of them, so that later attempts need not find it out again.
//
// Hits are carved highest first, and a failed attempt releases every sector
// it claimed, so the hit below it walks over the same sectors once more.
// Without this memory a source in which every sector starts a file that
// never ends costs, per sector, a walk to the end of the source or to the
// format's limit: work that grows with the square of the source. Two kinds
// of knowledge are kept:
//
//  - Runs of claimed sectors. A walk only ever meets sectors claimed by files
//    carved before (its own claims lie behind it), and those stay claimed
//    until the run ends, so a run once met is stepped over at once next
//    time, and it bounds how many free sectors are left before the end.
//  - The stretch of sectors that a JPEG's search for its end of image has
//    been through without finding it. It holds while no file is carved over
//    it, which is what Carved tells.
//
// Claims made outside carve attempts once carving has begun must be told
// through Carved too.
class CarveMemory {
 public:
  // Sectors first..last of the source, all searched for a JPEG's end of
  // image (FF D9) without finding one, also across the edges of consecutive
  // sectors; claimed sectors among them were stepped over and are not part
  // of what was searched.
  struct SearchedStretch {
    std::int64_t first = 0;        // free when searched
    std::int64_t last = 0;         // free when searched
    std::int64_t freeSectors = 0;  // the sectors searched
    std::uint8_t firstByte = 0;    // of sector first
    std::uint8_t lastByte = 0;     // of sector last
  };

  // The first sector at or after sector that no known run of claimed
  // sectors covers.
  std::int64_t PastClaimed(std::int64_t sector) const;
  // Sectors first up to (not including) end were found claimed.
  void ClaimedRun(std::int64_t first, std::int64_t end);
  // At most how many of the sectors from sector through last are free.
  std::int64_t FreeAtMost(std::int64_t sector, std::int64_t last) const;
  // A file was carved: sectors first up to end are claimed for good (its
  // own and those it stepped over), and what was known of them as searched
  // no longer holds.
  void Carved(std::int64_t first, std::int64_t end);

  const std::optional<SearchedStretch>& JpegSearched() const { return jpegSearched_; }
  void SetJpegSearched(const SearchedStretch& stretch) { jpegSearched_ = stretch; }

 private:
  std::map<std::int64_t, std::int64_t> claimedRuns_;  // first sector -> end, disjoint, not touching
  std::optional<SearchedStretch> jpegSearched_;
};

}  // namespace vellumark
