// Reassembly of a ZIP archive (a .docx, .xlsx, .pptx or .odt) whose
// clusters lie around foreign data, in the archive's own order.
//
// The archive's records say where each of its parts must stand: the end
// record, the central directory's place and length, so the archive's
// length; the directory, each member's local header offset. A local header
// starts with a signature and repeats its member's name, so it can be
// found on the source, and a cluster holding one can only be the
// archive's cluster at that offset, at the same place in the cluster.
// Between two such anchors the number of foreign clusters is known (the
// source clusters between them less the archive's); which ones they are is
// found by feeding the member's check cluster by cluster and leaving a
// cluster out where its bytes break the member's deflate stream, its text
// or its CRC-32. A cluster that looks foreign (lines of text, zeros, another
// file's start) is tried left out first.
#include "rescue/carvers/zip_reassembly.h"

#include <algorithm>
#include <limits>
#include <memory>

#include "common/byte_view.h"
#include "formats/file_signatures.h"
#include "formats/zip/zip_central_directory.h"
#include "formats/zip/zip_member_feed.h"
#include "rescue/carvers/reassembly_cluster_source.h"

namespace vellumark {
namespace {

using reassembly::Cluster;
using reassembly::ClusterSource;

// The largest archive rebuilt this way and the most clusters of foreign
// data skipped in all: the window of source clusters read.
constexpr std::int64_t kLargestArchive = std::int64_t{32} << 20;
constexpr std::size_t kLongestGap = 4'096;
// The work, in bytes fed to the checks: a few times the archive, enough for
// a wrong turn or two at each gap, never the disk around it.
constexpr std::uint64_t kWorkPerByte = 48;
constexpr std::uint64_t kWorkFloor = std::uint64_t{8} << 20;
// How many places are tried for the directory's start and each member's
// header (a second copy of the same archive, an older one, may lie near).
constexpr int kCandidates = 4;
constexpr int kEndRecordsTried = 8;
// How far before the cluster where a member's check broke its foreign data
// may begin, and the longest run of foreign clusters left out in one go.
constexpr std::size_t kSearchBackBytes = 32 * 1024;
constexpr std::size_t kLongestRun = 64;

// Either check a segment of the archive is fed to: a member's, or the
// central directory's (with the end record), which is read whole each time.
class SegmentCheck {
 public:
  explicit SegmentCheck(const ZipDirectoryEntry* entry, const ZipEndRecord* end)
      : end_(end) {
    if (entry != nullptr) member_.emplace(*entry);
    deflated_ = entry != nullptr && entry->method == 8;
  }
  // Whether a cluster of zeros cannot be part of what this check is fed: a
  // deflate stream has no such run, though it may inflate it for long.
  bool RefusesZeros() const { return deflated_; }
  SegmentCheck(const SegmentCheck&) = default;

  ZipFeedState Feed(ByteView bytes, std::uint64_t& work) {
    work += bytes.Size();
    if (member_) return member_->Feed(bytes);
    directory_.insert(directory_.end(), bytes.begin(), bytes.end());
    work += directory_.size();
    switch (ReadZipDirectory(ByteView(directory_.data(), directory_.size()), *end_).state) {
      case ZipDirectoryState::Done: return ZipFeedState::Done;
      case ZipDirectoryState::Going: return ZipFeedState::Going;
      case ZipDirectoryState::Broken: return ZipFeedState::Broken;
    }
    return ZipFeedState::Broken;
  }
  ZipFeedState State() const {
    if (member_) return member_->State();
    return ReadZipDirectory(ByteView(directory_.data(), directory_.size()), *end_).state == ZipDirectoryState::Done
               ? ZipFeedState::Done
               : ZipFeedState::Going;
  }

 private:
  std::optional<ZipMemberFeed> member_;
  bool deflated_ = false;
  const ZipEndRecord* end_;
  std::vector<std::uint8_t> directory_;
};

class ZipReassembler {
 public:
  ZipReassembler(RescueRun& run, std::int64_t hitOffset)
      : source_(run, hitOffset, MostClusters(run)),
        clusterBytes_(static_cast<std::size_t>(std::max<std::int64_t>(run.spc, 1)) * reassembly::kSector) {}

  ZipReassemblyOutcome Run() {
    ZipReassemblyOutcome outcome;
    if (source_.Ensure(1) && source_[0].readable && source_[0].bytes.size() >= 30 &&
        ByteView(source_[0].bytes.data(), source_[0].bytes.size()).Equals(0, signature::kZipLocalHeader)) {
      firstBytes_ = source_[0].bytes.size();
      outcome.whole = Search();
    }
    outcome.work = work_;
    return outcome;
  }

 private:
  static std::size_t MostClusters(const RescueRun& run) {
    const auto cluster = static_cast<std::size_t>(std::max<std::int64_t>(run.spc, 1)) * reassembly::kSector;
    return static_cast<std::size_t>(kLargestArchive) / cluster + 2 + kLongestGap;
  }

  std::size_t UnitOf(std::int64_t x) const {
    const auto at = static_cast<std::size_t>(x);
    return at < firstBytes_ ? 0 : 1 + (at - firstBytes_) / clusterBytes_;
  }
  std::int64_t UnitStart(std::size_t unit) const {
    return unit == 0 ? 0 : static_cast<std::int64_t>(firstBytes_ + (unit - 1) * clusterBytes_);
  }
  std::size_t UnitSize(std::size_t unit) const { return unit == 0 ? firstBytes_ : clusterBytes_; }
  ByteView BytesOf(std::size_t i) const { return {source_[i].bytes.data(), source_[i].bytes.size()}; }
  // Whether source cluster i exists and can stand as one of the archive's.
  bool Usable(std::size_t i, std::size_t unit) {
    if (!source_.Ensure(i + 1)) return false;
    const Cluster& cluster = source_[i];
    return cluster.readable && cluster.bytes.size() == UnitSize(unit);
  }
  // Whether source cluster i is more likely foreign than the archive's:
  // lines of text, another file's start, or zeros. Compressed data looks
  // random, so random bytes say nothing here.
  bool LooksForeign(std::size_t i) const { return source_[i].costs.use == reassembly::kForeign.use || IsZeros(i); }
  bool IsZeros(std::size_t i) const { return source_[i].costs == reassembly::kBlank; }
  bool OutOfWork() const { return work_ > limit_; }

  // The end records after the header, in source order, whose offset in
  // their cluster agrees with where they say they stand.
  std::optional<ZipReassembly> Search() {
    int tried = 0;
    for (std::size_t i = 0; tried < kEndRecordsTried && !OutOfWork() && source_.Ensure(i + 1); ++i) {
      const ByteView cluster = BytesOf(i);
      for (std::size_t p = 0; p + 22 <= cluster.Size(); ++p) {
        if (cluster.Data()[p] != 'P' || !cluster.Equals(p, signature::kZipEndRecord)) continue;
        const auto end = ReadZipEndRecord(*cluster.From(p));
        if (!end || end->ArchiveLength() > kLargestArchive) continue;
        const std::int64_t at = std::int64_t{end->directoryOffset} + end->directorySize;
        const std::size_t unit = UnitOf(at);
        if (unit > i || i - unit > kLongestGap || at - UnitStart(unit) != static_cast<std::int64_t>(p) ||
            UnitOf(end->ArchiveLength() - 1) != unit)
          continue;
        ++tried;
        end_ = *end;
        limit_ = work_ + kWorkFloor + kWorkPerByte * static_cast<std::uint64_t>(end->ArchiveLength());
        if (auto found = Solve(i)) return found;
      }
    }
    return std::nullopt;
  }

  // The archive with its end record in source cluster e.
  std::optional<ZipReassembly> Solve(std::size_t e) {
    const std::int64_t length = end_.ArchiveLength();
    const std::size_t lastUnit = UnitOf(length - 1);
    placement_.assign(lastUnit + 1, kNone);
    placement_[0] = 0;
    placement_[lastUnit] = e;
    // The directory: its start, in a cluster with a central header where it says.
    const std::int64_t dirAt = end_.directoryOffset;
    const std::size_t dirUnit = UnitOf(dirAt);
    const std::size_t nearest = e - (lastUnit - dirUnit);
    std::vector<ZipDirectoryEntry> entries;
    std::size_t dirSource = kNone;
    int candidates = 0;
    for (std::size_t s = nearest + 1; s-- > dirUnit && e - s <= kLongestGap + (lastUnit - dirUnit) && candidates < kCandidates;) {
      if (s == 0 && dirUnit != 0) break;
      if (!Usable(s, dirUnit) || !BytesOf(s).Equals(static_cast<std::uint64_t>(dirAt - UnitStart(dirUnit)), signature::kZipCentralHeader))
        continue;
      if (dirUnit == lastUnit && s != e) continue;
      ++candidates;
      SegmentCheck check(nullptr, &end_);
      if (!Segment(check, dirAt, s, length, lastUnit, e)) continue;
      const std::vector<std::uint8_t> directory = Placed(dirAt, length);
      entries = ReadZipDirectory(ByteView(directory.data(), directory.size()), end_).entries;
      dirSource = s;
      break;
    }
    if (dirSource == kNone || OutOfWork()) return std::nullopt;
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.headerOffset < b.headerOffset; });
    if (entries.empty() || entries[0].headerOffset != 0) return std::nullopt;
    // Each member from its anchor to the next member's, the last to the directory's.
    std::size_t anchor = 0;
    for (std::size_t m = 0; m < entries.size(); ++m) {
      const bool last = m + 1 == entries.size();
      const std::int64_t from = entries[m].headerOffset, to = last ? dirAt : entries[m + 1].headerOffset;
      if (to <= from) return std::nullopt;
      const std::size_t toUnit = UnitOf(to);
      if (last) {
        SegmentCheck check(&entries[m], nullptr);
        if (!Segment(check, from, anchor, to, dirUnit, dirSource)) return std::nullopt;
        continue;
      }
      const std::size_t fromUnit = UnitOf(from);
      const std::size_t lowest = anchor + (toUnit - fromUnit);
      bool placed = false;
      int tries = 0;
      for (std::size_t c = lowest; c <= std::min(lowest + kLongestGap, dirSource) && tries < kCandidates && !OutOfWork(); ++c) {
        if (!IsLocalHeader(c, toUnit, to, entries[m + 1])) continue;
        if (toUnit == fromUnit && c != anchor) break;
        ++tries;
        SegmentCheck check(&entries[m], nullptr);
        if (!Segment(check, from, anchor, to, toUnit, c)) continue;
        anchor = c;
        placed = true;
        break;
      }
      if (!placed) return std::nullopt;
    }
    return Assemble(length);
  }

  // Whether source cluster c holds, where the archive's offset at would
  // stand in unit, the start of the member's local header.
  bool IsLocalHeader(std::size_t c, std::size_t unit, std::int64_t at, const ZipDirectoryEntry& entry) {
    if (!Usable(c, unit)) return false;
    const ByteView cluster = BytesOf(c);
    const auto offset = static_cast<std::uint64_t>(at - UnitStart(unit));
    if (!cluster.Equals(offset, signature::kZipLocalHeader)) return false;
    // As much of the fixed part and name as the cluster holds must agree.
    const auto method = cluster.Le16(offset + 8), nameLength = cluster.Le16(offset + 26);
    if ((method && *method != entry.method) || (nameLength && *nameLength != entry.name.size())) return false;
    for (std::size_t k = 0; k < entry.name.size(); ++k) {
      const auto b = cluster.Byte(offset + 30 + k);
      if (!b) break;
      if (static_cast<char>(*b) != entry.name[k]) return false;
    }
    return true;
  }

  // Places the archive's bytes [from, to): from lies in the unit whose
  // source cluster is placed already (sa); fixUnit, the unit of to or of
  // the last byte before it, is to stand in source cluster sb. The units
  // between take source clusters between, in order, the rest skipped, so
  // that the check ends whole exactly at to.
  bool Segment(SegmentCheck check, std::int64_t from, std::size_t sa, std::int64_t to, std::size_t fixUnit, std::size_t sb) {
    const std::size_t fromUnit = UnitOf(from);
    if (sb < sa || fixUnit < fromUnit || sb - sa < fixUnit - fromUnit) return false;
    from_ = from, to_ = to, fixUnit_ = fixUnit, fixSource_ = sb;
    placement_[fromUnit] = sa;
    placement_[fixUnit] = sb;
    const ByteView head = Slice(sa, fromUnit);
    if (fromUnit == fixUnit) return sa == sb && check.Feed(head, work_) == ZipFeedState::Done;
    if (check.Feed(head, work_) == ZipFeedState::Broken) return false;
    return Mended(check, fromUnit + 1, sa + 1, (sb - sa) - (fixUnit - fromUnit));
  }

  // The bytes of source cluster i that unit holds of [from_, to_).
  ByteView Slice(std::size_t i, std::size_t unit) const {
    const std::int64_t start = UnitStart(unit);
    const std::int64_t first = std::max(from_, start), last = std::min(to_, start + static_cast<std::int64_t>(UnitSize(unit)));
    if (last <= first) return {};
    return *BytesOf(i).Bytes(static_cast<std::uint64_t>(first - start), static_cast<std::uint64_t>(last - first));
  }

  // How far the check goes from unit on, with source clusters from j in
  // turn and the skips left made just before the fixed cluster: the unit
  // at which it broke (fixUnit_ + 1 when it ended whole). Each unit's
  // cluster and the check before it are noted along the way.
  std::size_t Run(SegmentCheck check, std::size_t unit, std::size_t j, std::size_t skips) {
    for (; unit < fixUnit_; ++unit, ++j) {
      if (OutOfWork() || !Usable(j, unit)) return unit;
      Note(unit, j, check);
      if (check.RefusesZeros() && IsZeros(j)) return unit;
      if (check.Feed(Slice(j, unit), work_) == ZipFeedState::Broken) return unit;
    }
    if (j + skips != fixSource_) return unit;
    const ByteView tail = Slice(fixSource_, unit);
    return (tail.Size() == 0 ? check.State() : check.Feed(tail, work_)) == ZipFeedState::Done ? unit + 1 : unit;
  }

  void Note(std::size_t unit, std::size_t j, const SegmentCheck& check) {
    const std::size_t k = unit - firstFree_;
    before_.resize(k + 1);
    before_[k] = std::make_unique<SegmentCheck>(check);
    placement_[unit] = j;
  }

  // Feeds the units from unit on in turn, and where the check breaks,
  // leaves out the run of clusters, starting a little before the break,
  // whose leaving out lets it go furthest (foreign data stops a deflate
  // stream or its text soon, not always at once), until it ends whole or
  // no run helps. Each decision is final: the work stays a few passes over
  // the archive, and a wrong one costs the document, never a byte of it.
  bool Mended(const SegmentCheck& start, std::size_t unit, std::size_t j, std::size_t skips) {
    firstFree_ = unit;
    before_.clear();
    std::size_t reached = Run(start, unit, j, skips);
    const std::size_t back = std::max<std::size_t>(4, kSearchBackBytes / clusterBytes_);
    while (reached <= fixUnit_) {
      if (skips == 0 || OutOfWork()) return false;
      // Try runs that start at units b (from the break back) and are len long.
      std::size_t bestReach = reached, bestB = 0, bestLen = 0, bestForeign = 0;
      const std::size_t lowest = reached > firstFree_ + back ? reached - back : firstFree_;
      std::vector<std::unique_ptr<SegmentCheck>> before = std::move(before_);
      before_.clear();
      std::vector<std::size_t> sources(placement_.begin() + static_cast<std::ptrdiff_t>(firstFree_),
                                       placement_.begin() + static_cast<std::ptrdiff_t>(std::min(reached, fixUnit_)));
      for (std::size_t b = std::min(reached, fixUnit_ - 1) + 1; b-- > lowest && b >= firstFree_;) {
        if (b >= fixUnit_ || b - firstFree_ >= before.size() || !before[b - firstFree_]) continue;
        const std::size_t jb = b - firstFree_ < sources.size() ? sources[b - firstFree_] : j + (b - unit);
        const std::size_t skipsAt = skips - (jb - (j + (b - unit)));
        std::size_t foreign = 0;
        for (std::size_t len = 1; len <= std::min<std::size_t>(skipsAt, kLongestRun) && !OutOfWork(); ++len) {
          if (!source_.Ensure(jb + len)) break;
          foreign += LooksForeign(jb + len - 1) ? 1 : 0;
          const std::size_t got = Run(*before[b - firstFree_], b, jb + len, skipsAt - len);
          if (got > bestReach || (got == bestReach && got > reached && foreign > bestForeign)) {
            bestReach = got, bestB = b, bestLen = len, bestForeign = foreign;
          }
        }
      }
      if (bestReach <= reached) return false;
      const std::size_t jb = bestB - firstFree_ < sources.size() ? sources[bestB - firstFree_] : j + (bestB - unit);
      skips -= (jb - (j + (bestB - unit))) + bestLen;
      j = jb + bestLen, unit = bestB;
      const SegmentCheck at = *before[bestB - firstFree_];
      before_ = std::move(before);
      before_.resize(bestB - firstFree_);
      for (std::size_t k = firstFree_; k < bestB; ++k) placement_[k] = sources[k - firstFree_];
      reached = Run(at, unit, j, skips);
    }
    return true;
  }

  // The archive's bytes [from, to) as placed.
  std::vector<std::uint8_t> Placed(std::int64_t from, std::int64_t to) {
    std::vector<std::uint8_t> bytes;
    from_ = from, to_ = to;
    for (std::size_t unit = UnitOf(from); unit <= UnitOf(to - 1); ++unit) {
      const ByteView slice = Slice(placement_[unit], unit);
      bytes.insert(bytes.end(), slice.begin(), slice.end());
    }
    return bytes;
  }

  std::optional<ZipReassembly> Assemble(std::int64_t length) const {
    ZipReassembly result;
    const std::size_t wanted = static_cast<std::size_t>((length + reassembly::kSector - 1) / reassembly::kSector);
    for (const std::size_t i : placement_) {
      if (i == kNone) return std::nullopt;
      result.bytes.insert(result.bytes.end(), source_[i].bytes.begin(), source_[i].bytes.end());
      for (const std::int64_t s : source_[i].sectors) (result.sectors.size() < wanted ? result.sectors : result.clusterTail).push_back(s);
    }
    if (result.bytes.size() < static_cast<std::size_t>(length)) return std::nullopt;
    result.bytes.resize(static_cast<std::size_t>(length));
    return result;
  }

  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  ClusterSource source_;
  const std::size_t clusterBytes_;
  std::size_t firstBytes_ = 0;
  ZipEndRecord end_;
  std::vector<std::size_t> placement_;  // the source cluster of each of the archive's units
  std::vector<std::unique_ptr<SegmentCheck>> before_;  // the check before each free unit, as last run
  std::size_t firstFree_ = 0;
  std::int64_t from_ = 0, to_ = 0;
  std::size_t fixUnit_ = 0, fixSource_ = 0;
  std::uint64_t work_ = 0, limit_ = 0;
};

}  // namespace

ZipReassemblyOutcome ReassembleZip(RescueRun& run, std::int64_t hitOffset) {
  if (run.BytesPerSector() != reassembly::kSector) return {};
  return ZipReassembler(run, hitOffset).Run();
}

}  // namespace vellumark
