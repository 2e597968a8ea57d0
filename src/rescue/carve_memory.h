#pragma once

#include <cstdint>
#include <map>

namespace vellumark {

// What the carve attempts of one run have found out about the sectors ahead
// of them, so that later attempts need not find it out again.
//
// Hits are carved highest first, and a failed attempt releases every sector
// it claimed, so the hit below it walks over the same sectors once more.
// Without this memory a source in which every sector starts a file that
// never ends costs, per sector, a walk to the end of the source or to the
// format's limit: work that grows with the square of the source.
//
// Runs of claimed sectors are kept. A walk only ever meets sectors claimed
// by files carved before (its own claims lie behind it), and those stay
// claimed until the run ends, so a run once met is stepped over at once
// next time, and it bounds how many free sectors are left before the end.
//
// Claims made outside carve attempts once carving has begun must be told
// through Carved too.
class CarveMemory {
 public:
  // The first sector at or after sector that no known run of claimed
  // sectors covers.
  std::int64_t PastClaimed(std::int64_t sector) const;
  // Sectors first up to (not including) end were found claimed.
  void ClaimedRun(std::int64_t first, std::int64_t end);
  // At most how many of the sectors from sector through last are free.
  std::int64_t FreeAtMost(std::int64_t sector, std::int64_t last) const;
  // A file was carved: sectors first up to end are claimed for good (its
  // own and those it stepped over).
  void Carved(std::int64_t first, std::int64_t end);

 private:
  std::map<std::int64_t, std::int64_t> claimedRuns_;  // first sector -> end, disjoint, not touching
};

}  // namespace vellumark
