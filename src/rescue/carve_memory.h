#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_set>

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
//    been through without finding it, and the stretch of sectors in which a
//    PDF's search for its end met nothing it looks for. Each holds while no
//    file is carved over it, which is what Carved tells.
//  - Dead ends of chained structures (chunks, blocks, boxes, members,
//    elements): the places in the source at which a walk over a format's
//    chain was found to fail whatever came before them. A walk that comes
//    to one fails at once instead of following the chain again. They hold
//    as long as the claims after them stay as they were: every file carved
//    later starts below and either ends before a dead end or covers it
//    (then no walk comes to it again), so only claims of scattered sectors
//    (a rebuilt document, sectors left out of a file) must forget them.
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

  // The chains whose dead ends are kept apart.
  enum class Chain : std::uint8_t {
    kPngChunks = 1,
    kRarBlocks,
    kMp4Boxes,
    kJpegSegments,
    kZipMembers,
    kMatroskaElements,
    kTarMembers,
    kGzipBlocks,
    kAsfObjects,
  };
  // A place of a chain: a byte of the source, and for bit streams the bit
  // in it (0 to 7); for Matroska, whether inside a Cluster.
  static std::uint64_t ChainPoint(Chain chain, std::int64_t sourceOffset, int bit) {
    return (static_cast<std::uint64_t>(sourceOffset) << 7) | (static_cast<std::uint64_t>(bit & 7) << 4) |
           static_cast<std::uint64_t>(chain);
  }
  bool IsDeadEnd(std::uint64_t point) const { return deadEnds_.count(point) != 0; }
  // A walk failed from here on, whatever came before. Beyond kMostDeadEnds
  // new ones are not kept: the memory stays bounded, and a walk that could
  // have stopped at one only walks on as it would have anyway.
  void AddDeadEnd(std::uint64_t point) {
    if (deadEnds_.size() < kMostDeadEnds) deadEnds_.insert(point);
  }
  // Claims of scattered sectors were made: what was known to fail might
  // now go another way.
  void ForgetDeadEnds() { deadEnds_.clear(); }
  std::size_t DeadEnds() const { return deadEnds_.size(); }
  static constexpr std::size_t kMostDeadEnds = std::size_t{1} << 21;

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
  // Sectors first..last, free when searched, in which a PDF's search for
  // its end found none of the bytes that start what it looks for ('s' of
  // "startxref", 'x' of "xref", 'j' of "obj"); the edge bytes are unused.
  const std::optional<SearchedStretch>& PdfQuiet() const { return pdfQuiet_; }
  void SetPdfQuiet(const SearchedStretch& stretch) { pdfQuiet_ = stretch; }

 private:
  std::map<std::int64_t, std::int64_t> claimedRuns_;  // first sector -> end, disjoint, not touching
  std::optional<SearchedStretch> jpegSearched_;
  std::optional<SearchedStretch> pdfQuiet_;
  std::unordered_set<std::uint64_t> deadEnds_;
};

}  // namespace vellumark
