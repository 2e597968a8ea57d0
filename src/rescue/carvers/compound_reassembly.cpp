// Reassembly of a compound file whose clusters lie around foreign data.
//
// The file is a run of whole clusters taken in order from the unclaimed
// clusters after its header, some of which (the gaps) belong to files no
// carver recognised: text, HTML, source code, pictures whose first cluster
// is gone. Which ones is decided by the file itself. Its header lists its
// FAT sectors, the FAT gives every chain, the directory names the streams,
// and Word's FIB and piece table say where its text lies and how wide each
// character is. Each of those sectors can be checked on its own bytes, so it
// pins the number of clusters skipped before it; between two pinned clusters
// the skipped ones go where the clusters look least like the document (line
// feeds in text, another file's signature, random bytes).
//
// The placement is a shortest path over (cluster of the file, clusters
// skipped so far); each round derives more checks from the file as the last
// round placed it (the header gives the FAT, the FAT the directory, the
// directory the FIB, the FIB and table stream the text) until they stop
// changing.
#include "rescue/carvers/compound_reassembly.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "common/byte_order.h"
#include "common/byte_view.h"
#include "rescue/file_signatures.h"
#include "rescue/report/compound_file.h"
#include "rescue/report/document_check.h"
#include "rescue/report/word_content_check.h"
#include "rescue/report/word_text.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kSector = 512;
constexpr std::uint32_t kFree = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFatMark = 0xFFFFFFFD;
constexpr std::uint32_t kDifatMark = 0xFFFFFFFC;
constexpr std::uint32_t kHighestSector = 204'798;  // files up to 100 MiB, as the plain walk
constexpr std::size_t kLargestFatCount = 1'600;
constexpr std::uint16_t kWordIdents[] = {0xA5EC, 0xA5DC, 0xA697, 0xA699, 0x8098, 0x8099};
constexpr std::uint16_t kWord97Ident = 0xA5EC;

// Bounds of the search for one document: the clusters one gap may span,
// the cells of the placement table, the rounds of derivation and the time.
constexpr std::int64_t kLongestGap = 1'024;
constexpr std::size_t kPlacementCells = 16'000'000;
constexpr int kRounds = 8;
constexpr auto kTimeBudget = std::chrono::seconds(10);

// What using or skipping a cluster costs, in tenths. A cluster that looks
// foreign is dear to use and cheap to skip, one that looks like any other
// part of a document the other way round, and random bytes (compressed
// data, a picture's, or the document's own) rather dear to use: a
// document's own such data lies between anchors that force its use.
// Every gap costs a little more, so that fewer, longer gaps win.
struct Costs {
  std::int64_t use;
  std::int64_t skip;
};
constexpr Costs kForeign{20, 1};
constexpr Costs kRandom{15, 2};
constexpr Costs kPlain{0, 10};
constexpr std::int64_t kGapCost = 1;
// Where no placement holds together, the text is read from one in which
// clusters may fail their checks (lost: overwritten, or never written), at
// a cost no run of skipped clusters a gap can span comes near.
constexpr std::int64_t kLostCost = 100'000;
// Or at a cost below that of skipping a cluster that looks like the
// document's: the placement then takes a cluster that fails its checks as
// lost where it lies rather than shift the clusters around it.
constexpr std::int64_t kCheapLostCost = 4;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max() / 4;

enum class Role : std::uint8_t { Fat, Difat, MiniFat, Directory, Fib, Text, Rising, PageNumbers, FormattingPage, ClxStart };

// A check of one sector of the file. For Fat, first is the sector's index
// in the FAT (MiniFat, in the mini FAT); for Fib, the offset of the block
// in the sector; for Text, the sector's bytes [first, last) are characters of
// width bytes each; for Rising, they are 32-bit positions that never fall
// (a piece table's or a formatting table's); for FormattingPage, first is
// the most runs the page may hold; for PageNumbers, the bytes [first, last)
// are page numbers below limit; for ClxStart, a Clx starts at first whose
// piece table, when it comes first, is limit bytes long.
struct Check {
  Role role;
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint8_t width = 1;
  std::uint32_t limit = 0;

  friend bool operator==(const Check&, const Check&) = default;
};

// A cluster of the source after the header: its unclaimed sectors and their bytes.
struct Cluster {
  std::vector<std::int64_t> sectors;
  Bytes bytes;
  bool readable = true;
  Costs costs = kPlain;
};

// Line-ended text (text files, HTML, source code, logs, CSV), the start of
// a file a carver knows, or bytes as random as compressed data. A file's
// last cluster is filled out with zeros (or whatever was there), so only
// what comes before the zeros at its end is judged.
Costs CostsOf(const Bytes& bytes) {
  if (ClassifySector(bytes.data(), bytes.size()) != code::kNone) return kForeign;
  std::size_t size = bytes.size();
  while (size > 0 && bytes[size - 1] == 0) --size;
  if (size < 64) return kPlain;
  std::array<std::size_t, 256> counts{};
  for (std::size_t i = 0; i < size; ++i) ++counts[bytes[i]];
  std::size_t printable = counts['\t'] + counts['\r'] + counts['\n'];
  for (int c = 0x20; c < 0x7F; ++c) printable += counts[static_cast<std::size_t>(c)];
  if (counts['\n'] > 0 && printable * 100 >= size * 97) return kForeign;
  double entropy = 0;
  for (const std::size_t count : counts) {
    if (count == 0) continue;
    const double p = static_cast<double>(count) / static_cast<double>(size);
    entropy -= p * std::log2(p);
  }
  return entropy >= 7.2 ? kRandom : kPlain;
}

bool IsSectorNumber(std::uint32_t value) { return value <= kHighestSector; }

class Reassembler {
 public:
  Reassembler(RescueRun& run, std::int64_t hitOffset)
      : run_(run),
        spc_(std::max<std::int64_t>(run.spc, 1)),
        phase_(std::max<std::int64_t>(run.chosenPhase, 0) % std::max<std::int64_t>(run.spc, 1)),
        first_(hitOffset / static_cast<std::int64_t>(kSector)),
        cursor_(first_),
        last_(run.LastSourceSector()),
        started_(std::chrono::steady_clock::now()) {}

  // The placement that checks out, when the two ways of breaking ties
  // (gaps as early as possible, or as late) agree on it. When they differ,
  // the checks cannot tell which clusters are the document's (two documents
  // interleaved look like this), and a guess is not a rescue.
  // Failing that, the text of the clusters that check.
  ReassemblyOutcome Run() {
    if (!Ensure(1) || !clusters_[0].readable || clusters_[0].bytes.size() < kSector) return {};
    const Bytes& header = clusters_[0].bytes;
    const ByteView headerBytes(header.data(), header.size());
    if (!headerBytes.Equals(0, signature::kCompoundDocument) || headerBytes.Le32(28) != 0x0009FFFEu) return {};
    if (const auto early = Solve(false)) {
      const auto late = Solve(true);
      if (late && late->first == early->first) return {Result(early->first, early->second), std::nullopt};
    }
    return {std::nullopt, Partial()};
  }

 private:
  using Placement = std::vector<std::size_t>;  // the source cluster of each cluster of the file

  // Source clusters are read as the search reaches them. A gap is never
  // longer than kLongestGap clusters, so nothing past the largest file and
  // one such gap is read.
  bool Ensure(std::size_t count) {
    while (clusters_.size() < count) {
      if (cursor_ > last_ || cursor_ - first_ > (kHighestSector + 2 + kLongestGap * spc_) || OutOfTime()) return false;
      const std::int64_t end = cursor_ < phase_ ? phase_ : ((cursor_ - phase_) / spc_ + 1) * spc_ + phase_;
      Cluster cluster;
      for (std::int64_t s = cursor_; s < end && s <= last_; ++s) {
        if (!run_.claims.IsSectorClaimed(s)) cluster.sectors.push_back(s);
      }
      cursor_ = end;
      if (cluster.sectors.empty()) continue;  // wholly another file's
      cluster.bytes.resize(cluster.sectors.size() * kSector);
      for (std::size_t i = 0; i < cluster.sectors.size(); ++i) {
        // Sectors of one cluster are read together when none between is claimed.
        std::size_t n = 1;
        while (i + n < cluster.sectors.size() && cluster.sectors[i + n] == cluster.sectors[i] + static_cast<std::int64_t>(n)) ++n;
        if (run_.source.ReadSectors(cluster.bytes.data() + i * kSector, static_cast<std::int32_t>(n * kSector),
                                    cluster.sectors[i] * static_cast<std::int64_t>(kSector)) > 0)
          cluster.readable = false;
        i += n - 1;
      }
      cluster.costs = clusters_.empty() ? Costs{0, kNever} : CostsOf(cluster.bytes);
      prefix_.push_back(prefix_.back() + cluster.costs.skip);
      clusters_.push_back(std::move(cluster));
    }
    return true;
  }

  bool OutOfTime() const { return std::chrono::steady_clock::now() - started_ > kTimeBudget; }

  // The file's sector f (0 is the header) lies in the file's cluster
  // UnitOf(f); the first cluster is the header's, however many sectors of
  // it were free.
  std::size_t HeaderSectors() const { return clusters_[0].sectors.size(); }
  std::size_t UnitOf(std::size_t f) const {
    return f < HeaderSectors() ? 0 : 1 + (f - HeaderSectors()) / static_cast<std::size_t>(spc_);
  }
  std::size_t FirstSectorOf(std::size_t unit) const {
    return unit == 0 ? 0 : HeaderSectors() + (unit - 1) * static_cast<std::size_t>(spc_);
  }

  void Add(std::size_t f, Check check) {
    checks_[f].push_back(check);
    highestChecked_ = std::max(highestChecked_, f);
  }

  // The file sector f of the image as last placed, or nothing past its end.
  const std::uint8_t* SectorAt(const Bytes& image, std::size_t f) const {
    return (f + 1) * kSector <= image.size() ? image.data() + f * kSector : nullptr;
  }

  // Every entry free, a mark, or the number of a sector no other entry of
  // the sector also points to; the FAT's own sectors carry their mark. The
  // mini FAT is the same table over the mini stream's blocks, without marks.
  bool PassFat(const std::uint8_t* data, std::uint32_t index) const { return PassTable(data, index, true); }

  bool PassTable(const std::uint8_t* data, std::uint32_t index, bool marks) const {
    std::array<std::uint32_t, 128> targets{};
    std::size_t used = 0;
    for (std::uint32_t k = 0; k < 128; ++k) {
      const std::uint32_t entry = LoadLe32(data + 4 * k);
      if (entry == kFree || entry == kEndOfChain || entry == kFatMark || entry == kDifatMark) continue;
      if (!IsSectorNumber(entry) || entry == index * 128 + k) return false;
      targets[used++] = entry;
    }
    std::sort(targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(used));
    if (std::adjacent_find(targets.begin(), targets.begin() + static_cast<std::ptrdiff_t>(used)) !=
        targets.begin() + static_cast<std::ptrdiff_t>(used))
      return false;
    for (const std::uint32_t sector : fatSectors_) {
      if (!marks || sector / 128 != index) continue;
      const std::uint32_t mark = LoadLe32(data + 4 * (sector % 128));
      if (mark != kFatMark && mark != kEndOfChain) return false;
    }
    return true;
  }

  static bool PassDifat(const std::uint8_t* data) {
    for (int k = 0; k < 128; ++k) {
      const std::uint32_t entry = LoadLe32(data + 4 * k);
      if (entry != kFree && entry != kEndOfChain && !IsSectorNumber(entry)) return false;
    }
    return true;
  }

  // Four entries, each unused or with a name length, type, colour and links
  // a directory can have; at least one in use.
  static bool PassDirectory(const std::uint8_t* data) {
    bool any = false;
    for (std::size_t at = 0; at < kSector; at += 128) {
      const std::uint8_t* entry = data + at;
      const std::uint16_t nameBytes = LoadLe16(entry + 64);
      const std::uint8_t type = entry[66];
      if (type == 0) {
        if (nameBytes > 64) return false;
        continue;
      }
      if (type != 1 && type != 2 && type != 5) return false;
      if (nameBytes < 2 || nameBytes > 64 || nameBytes % 2 != 0 || entry[67] > 1) return false;
      for (const std::size_t link : {68, 72, 76}) {
        const std::uint32_t value = LoadLe32(entry + link);
        if (value != kFree && value > 0xFFFF) return false;
      }
      any = true;
    }
    return any;
  }

  static bool PassFib(const std::uint8_t* data) {
    const std::uint16_t ident = LoadLe16(data);
    if (std::find(std::begin(kWordIdents), std::end(kWordIdents), ident) == std::end(kWordIdents)) return false;
    return ident != kWord97Ident || LoadLe16(data + 2) >= 101;
  }

  static bool PassText(const std::uint8_t* data, const Check& check) {
    if (check.width == 2 && IsEightBitTextInUtf16({data + check.first, data + check.last})) return false;
    for (std::uint32_t at = check.first; at + check.width <= check.last; at += check.width) {
      const std::uint32_t c = check.width == 1 ? data[at] : LoadLe16(data + at);
      if (!IsWordTextCharacter(c)) return false;
    }
    return true;
  }

  static bool PassRising(const std::uint8_t* data, const Check& check) {
    for (std::uint32_t at = check.first; at + 8 <= check.last; at += 4) {
      if (LoadLe32(data + at + 4) < LoadLe32(data + at)) return false;
    }
    return true;
  }

  // A page of character or paragraph formatting: its run count in its last
  // byte, and the file positions of its runs rising from its start.
  static bool PassFormattingPage(const std::uint8_t* data, const Check& check) {
    const std::uint32_t runs = data[kSector - 1];
    if (runs == 0 || runs > check.first) return false;
    return PassRising(data, {Role::Rising, 0, 4 * (runs + 1)});
  }

  static bool PassPageNumbers(const std::uint8_t* data, const Check& check) {
    for (std::uint32_t at = check.first; at + 4 <= check.last; at += 4) {
      if ((LoadLe32(data + at) & 0x3FFFFF) >= check.limit) return false;
    }
    return true;
  }

  static bool PassClxStart(const std::uint8_t* data, const Check& check) {
    if (data[check.first] == 0x01) return true;
    if (data[check.first] != 0x02) return false;
    return check.first + 5 > kSector || LoadLe32(data + check.first + 1) == check.limit;
  }

  bool Pass(const std::uint8_t* data, const Check& check) const {
    switch (check.role) {
      case Role::Fat: return PassFat(data, check.first);
      case Role::Difat: return PassDifat(data);
      case Role::Directory: return PassDirectory(data);
      case Role::MiniFat: return PassTable(data, check.first, false);
      case Role::Fib: return PassFib(data + check.first);
      case Role::Text: return PassText(data, check);
      case Role::Rising: return PassRising(data, check);
      case Role::FormattingPage: return PassFormattingPage(data, check);
      case Role::PageNumbers: return PassPageNumbers(data, check);
      case Role::ClxStart: return PassClxStart(data, check);
    }
    return false;
  }

  static bool IsBookkeeping(Role role) {
    return role == Role::Fat || role == Role::Difat || role == Role::Directory || role == Role::MiniFat;
  }

  // Whether source cluster i can stand as the file's cluster unit of units:
  // not at all (unreadable, past the source, of the wrong size, or failing a
  // check of the file's bookkeeping), only as a lost cluster (it fails
  // another check), or with every check passed.
  enum class Fit : std::uint8_t { None, Lost, Checked };
  Fit FitOf(std::size_t unit, std::size_t i, std::size_t units) {
    if (!Ensure(i + 1)) return Fit::None;
    const Cluster& cluster = clusters_[i];
    if (!cluster.readable) return Fit::None;
    if (unit > 0) {
      const std::size_t size = cluster.sectors.size();
      const bool lastUnit = unit + 1 == units;
      const std::size_t needed = lastUnit && fileSectors_ > 0 ? fileSectors_ - FirstSectorOf(unit)
                                                             : static_cast<std::size_t>(spc_);
      if (size < needed || (!lastUnit && size != static_cast<std::size_t>(spc_))) return Fit::None;
    }
    // The file's bookkeeping cannot be lost: without its FAT, directory or
    // mini FAT no stream can be found, so a cluster that fails their checks
    // does not stand for them at all.
    const std::size_t base = FirstSectorOf(unit);
    Fit fit = Fit::Checked;
    for (auto it = checks_.lower_bound(base); it != checks_.end() && UnitOf(it->first) == unit; ++it) {
      const bool cut = (it->first - base + 1) * kSector > cluster.bytes.size();
      for (const Check& check : it->second) {
        if (!cut && Pass(cluster.bytes.data() + (it->first - base) * kSector, check)) continue;
        if (IsBookkeeping(check.role)) return Fit::None;
        fit = Fit::Lost;
      }
    }
    return fit;
  }

  bool Fits(std::size_t unit, std::size_t i, std::size_t units) { return FitOf(unit, i, units) == Fit::Checked; }

  // The cheapest placement of units clusters that passes every check, or
  // nothing. best[g] is the cost of the file's clusters so far with g
  // source clusters skipped before the current one: what the clusters used
  // cost to use and the ones skipped to skip.
  std::optional<std::pair<Placement, std::int64_t>> Place(std::size_t units, bool lateGaps) {
    const std::size_t widest = std::min<std::size_t>(kLongestGap, kPlacementCells / std::max<std::size_t>(units, 1));
    const std::size_t width = widest + 1;
    std::vector<std::int64_t> best(width, kNever), next(width);
    std::vector<std::uint16_t> from(units * width, 0);
    if (!Fits(0, 0, units)) return std::nullopt;
    best[0] = 0;
    for (std::size_t unit = 1; unit < units; ++unit) {
      if (OutOfTime()) return std::nullopt;
      std::fill(next.begin(), next.end(), kNever);
      std::int64_t open = kNever;  // cheapest best[g'] - prefix[unit + g'] over g' < g
      std::size_t openFrom = 0;
      for (std::size_t g = 0; g < width; ++g) {
        if (g > 0 && best[g - 1] < kNever) {
          const std::int64_t value = best[g - 1] - SkipCost(unit + g - 1);
          if (lateGaps ? value <= open : value < open) open = value, openFrom = g - 1;
        }
        if (best[g] >= kNever && open >= kNever) continue;
        const Fit fit = FitOf(unit, unit + g, units);
        if (fit == Fit::None || (fit == Fit::Lost && !allowLost_)) continue;
        const std::int64_t stay = best[g];
        const std::int64_t jump = open < kNever ? open + SkipCost(unit + g) + kGapCost : kNever;
        // Equal costs mean the gap could lie here or earlier: the tie goes
        // to the earlier gap, or to this one.
        const bool takeJump = lateGaps ? jump <= stay : jump < stay;
        const std::int64_t use = looksAlike_ || (fit == Fit::Lost && cheapLoss_) ? 0 : clusters_[unit + g].costs.use;
        next[g] = (takeJump ? jump : stay) + use + (fit == Fit::Lost ? (cheapLoss_ ? kCheapLostCost : kLostCost) : 0);
        from[unit * width + g] = static_cast<std::uint16_t>(takeJump ? openFrom : g);
      }
      best.swap(next);
    }
    const auto end = std::min_element(best.begin(), best.end());
    if (*end >= kNever) return std::nullopt;
    Placement placement(units);
    std::size_t g = static_cast<std::size_t>(end - best.begin());
    for (std::size_t unit = units; unit-- > 0;) {
      placement[unit] = unit + g;
      if (unit > 0) g = from[unit * width + g];
    }
    return std::pair{placement, *end};
  }

  // The cost of skipping source clusters 0..k-1.
  std::int64_t SkipCost(std::size_t k) const {
    return dearGaps_ ? static_cast<std::int64_t>(k) * kPlain.skip : prefix_[k];
  }

  Bytes Assemble(const Placement& placement) const {
    Bytes image;
    for (const std::size_t i : placement) image.insert(image.end(), clusters_[i].bytes.begin(), clusters_[i].bytes.end());
    return image;
  }

  // A chain of the FAT from start, as far as it is sound; at most limit sectors.
  static std::vector<std::uint32_t> Chain(const std::vector<std::uint32_t>& fat, std::uint32_t start, std::size_t limit) {
    std::vector<std::uint32_t> chain;
    std::vector<bool> seen(fat.size(), false);
    for (std::uint32_t s = start; s < fat.size() && !seen[s] && chain.size() < limit; s = fat[s]) {
      seen[s] = true;
      chain.push_back(s);
    }
    return chain;
  }

  // Where each block of a stream lies in the file: the file's sector and
  // the offset in it. A stream below the cutoff lives in 64-byte blocks of
  // the mini stream, itself the root entry's chain of sectors.
  struct StreamMap {
    std::size_t block = kSector;
    std::vector<std::pair<std::size_t, std::uint32_t>> places;
    std::uint32_t size = 0;
  };

  StreamMap MapStream(std::uint32_t start, std::uint32_t size) const {
    StreamMap map;
    map.size = size;
    if (size >= cutoff_) {
      for (const std::uint32_t s : Chain(fat_, start, (size + kSector - 1) / kSector)) map.places.emplace_back(s + 1, 0);
      return map;
    }
    map.block = 64;
    for (const std::uint32_t m : Chain(miniFat_, start, (size + 63) / 64)) {
      const std::size_t at = std::size_t{m} * 64;
      if (at / kSector >= rootChain_.size()) break;
      map.places.emplace_back(rootChain_[at / kSector] + 1, static_cast<std::uint32_t>(at % kSector));
    }
    return map;
  }

  // A stream's bytes as the image holds them, or nothing when its chain is
  // short or leaves the image.
  std::optional<Bytes> StreamBytes(const Bytes& image, const StreamMap& map) const {
    Bytes bytes;
    for (const auto& [f, offset] : map.places) {
      const std::uint8_t* data = SectorAt(image, f);
      if (data == nullptr) return std::nullopt;
      bytes.insert(bytes.end(), data + offset, data + offset + map.block);
    }
    if (bytes.size() < map.size) return std::nullopt;
    bytes.resize(map.size);
    return bytes;
  }

  struct Piece {
    std::size_t offset;
    std::size_t count;
    std::size_t width;
  };

  // The pieces of a Clx whose character positions rise from 0 and whose
  // bytes lie inside the stream; nothing when the Clx is not sound.
  static std::vector<Piece> Pieces(std::span<const std::uint8_t> stream, std::uint32_t fcClx, std::uint32_t lcbClx,
                                   std::size_t wordSize, std::size_t oldWidth) {
    if (fcClx > stream.size() || lcbClx > stream.size() - fcClx) return {};
    const auto clx = stream.subspan(fcClx, lcbClx);
    std::size_t at = 0;
    while (at + 3 <= clx.size() && clx[at] == 0x01) at += 3 + LoadLe16(clx.data() + at + 1);
    if (at + 5 > clx.size() || clx[at] != 0x02) return {};
    const std::uint32_t size = LoadLe32(clx.data() + at + 1);
    if (size > clx.size() - at - 5 || size < 4 || (size - 4) % 12 != 0) return {};
    const std::uint8_t* plc = clx.data() + at + 5;
    const std::size_t count = (size - 4) / 12;
    if (LoadLe32(plc) != 0) return {};
    std::vector<Piece> pieces;
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint32_t cpStart = LoadLe32(plc + 4 * i), cpEnd = LoadLe32(plc + 4 * i + 4);
      if (cpEnd <= cpStart) return {};
      const std::uint32_t fc = LoadLe32(plc + 4 * (count + 1) + 8 * i + 2);
      const bool compressed = (fc & 0x40000000u) != 0;
      const std::size_t offset = oldWidth != 0 ? fc : compressed ? (fc & 0x3FFFFFFFu) / 2 : fc & 0x3FFFFFFFu;
      const std::size_t width = oldWidth != 0 ? oldWidth : compressed ? 1 : 2;
      if (offset > wordSize || (wordSize - offset) / width < cpEnd - cpStart) return {};
      pieces.push_back({offset, cpEnd - cpStart, width});
    }
    return pieces;
  }

  // Checks for the bytes of a stream from offset on, count bytes long,
  // block by block.
  template <typename MakeCheck>
  void AddAlong(const StreamMap& map, std::size_t offset, std::size_t count, MakeCheck make) {
    const std::size_t end = offset + count;
    for (std::size_t at = offset; at < end;) {
      const std::size_t index = at / map.block;
      if (index >= map.places.size()) return;
      const std::size_t stop = std::min(end, (index + 1) * map.block);
      const auto [f, base] = map.places[index];
      Add(f, make(static_cast<std::uint32_t>(base + at % map.block),
                  static_cast<std::uint32_t>(base + stop - index * map.block)));
      at = stop;
    }
  }

  void AddText(const StreamMap& wordChain, const std::vector<Piece>& pieces) {
    for (const Piece& piece : pieces) {
      AddAlong(wordChain, piece.offset, piece.count * piece.width, [&](std::uint32_t first, std::uint32_t last) {
        return Check{Role::Text, first, last, static_cast<std::uint8_t>(piece.width)};
      });
    }
  }

  // A table of count rising 32-bit positions at offset in a stream. Sectors
  // are a multiple of four bytes long, so every value starts at the same
  // place modulo four in each; a value that straddles two sectors is left
  // unchecked.
  void AddRising(const StreamMap& chain, std::size_t offset, std::size_t count) {
    AddAlong(chain, offset, 4 * count, [&](std::uint32_t first, std::uint32_t last) {
      const auto skip = static_cast<std::uint32_t>((offset % 4 + 4 - first % 4) % 4);
      return Check{Role::Rising, std::min(first + skip, last), last};
    });
  }

  // What Word's FIB says of the rest of the document: where the text lies
  // (through the piece table, or for Word 6 and 95 saved in one go, the one
  // run from fcMin to fcMac), and for Word 97 and later where the pages of
  // character and paragraph formatting lie and the rising tables that point
  // to them and to the pieces.
  void AddWordChecks(const Bytes& image, const Bytes& word, const StreamMap& wordChain,
                     const std::map<std::string, std::pair<std::uint32_t, std::uint32_t>>& streams) {
    if (word.size() < 0x200) return;
    const std::uint16_t ident = LoadLe16(word.data()), nFib = LoadLe16(word.data() + 2), flags = LoadLe16(word.data() + 10);
    if ((flags & 0x0100) != 0) return;  // encrypted
    if (ident != kWord97Ident || (nFib >= 101 && nFib <= 105)) {
      const std::size_t width = (flags & 0x1000) != 0 ? 2 : 1;
      if ((flags & 0x0004) != 0) {
        AddText(wordChain, Pieces(word, LoadLe32(word.data() + 0x160), LoadLe32(word.data() + 0x164), word.size(), width));
        return;
      }
      const std::uint32_t fcMin = LoadLe32(word.data() + 0x18), fcMac = LoadLe32(word.data() + 0x1C);
      if (fcMac >= fcMin && fcMac <= word.size()) AddText(wordChain, {{fcMin, (fcMac - fcMin) / width, width}});
      return;
    }
    std::size_t at = 0x20;
    at += 2 + 2 * std::size_t{LoadLe16(word.data() + at)};
    if (at + 2 > word.size()) return;
    const std::size_t cslw = LoadLe16(word.data() + at);
    at += 2 + 4 * cslw;
    if (at + 2 + 8 * 34 > word.size() || LoadLe16(word.data() + at) <= 33) return;
    const auto pair = [&](std::size_t index) {
      return std::pair{LoadLe32(word.data() + at + 2 + 8 * index), LoadLe32(word.data() + at + 6 + 8 * index)};
    };
    const auto table = streams.find((flags & 0x0200) != 0 ? "1Table" : "0Table");
    if (table == streams.end()) return;
    const StreamMap tableChain = MapStream(table->second.first, table->second.second);
    const auto wordPages = static_cast<std::uint32_t>(wordChain.places.size() * wordChain.block / kSector);

    // The FIB alone places the tables of formatting pages in the table
    // stream: file positions that rise, then page numbers inside
    // WordDocument. Character formatting pages hold at most 0x65 runs,
    // paragraph ones 0x1D.
    const auto tableBytes = StreamBytes(image, tableChain);
    for (const auto& [index, mostRuns] : {std::pair{12u, 0x65u}, std::pair{13u, 0x1Du}}) {
      // Plain names, not a structured binding: lambdas below capture them.
      const std::uint32_t fc = pair(index).first, lcb = pair(index).second;
      if (lcb < 12 || (lcb - 4) % 8 != 0 || fc > table->second.second || lcb > table->second.second - fc) continue;
      const std::size_t count = (lcb - 4) / 8;
      AddRising(tableChain, fc, count + 1);
      AddAlong(tableChain, fc + 4 * (count + 1), 4 * count, [&](std::uint32_t first, std::uint32_t last) {
        const auto skip = static_cast<std::uint32_t>((fc % 4 + 4 - first % 4) % 4);
        return Check{Role::PageNumbers, std::min(first + skip, last), last, 1, wordPages};
      });
      if (!tableBytes || wordChain.block != kSector) continue;  // a page in the mini stream spans blocks
      const std::uint8_t* bte = tableBytes->data() + fc;
      for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t page = LoadLe32(bte + 4 * (count + 1) + 4 * i) & 0x3FFFFF;
        if (page < wordChain.places.size()) Add(wordChain.places[page].first, {Role::FormattingPage, mostRuns});
      }
    }

    // The piece table: where the text lies, each piece 8-bit or UTF-16.
    // The Clx holding it starts with 1 (property modifiers come first) or
    // 2 (the piece table itself, whose size the FIB's length then gives);
    // in the second case the FIB alone places its rising character
    // positions too.
    const std::uint32_t fcClx = pair(33).first, lcbClx = pair(33).second;
    if (lcbClx < 5 + 4 + 12 || fcClx > table->second.second || lcbClx > table->second.second - fcClx) return;
    AddAlong(tableChain, fcClx, 1, [&](std::uint32_t first, std::uint32_t) {
      return Check{Role::ClxStart, first, first + 1, 1, lcbClx - 5};
    });
    if (!tableBytes) return;
    if ((*tableBytes)[fcClx] == 0x02 && (lcbClx - 9) % 12 == 0) AddRising(tableChain, fcClx + 5, (lcbClx - 9) / 12 + 1);
    AddText(wordChain, Pieces(*tableBytes, fcClx, lcbClx, word.size(), 0));
  }

  // The streams directly under the root storage, by name: their first
  // sector (or block) and size. Embedded objects keep streams of the same
  // names (a WordDocument of their own) in storages below; the tree of the
  // root's children, walked through its left and right links, leaves them out.
  std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> RootStreams() const {
    std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> streams;
    const std::size_t entries = directory_.size() / 128;
    std::vector<bool> seen(entries, false);
    std::vector<std::uint32_t> pending;
    if (entries > 0) pending.push_back(LoadLe32(directory_.data() + 76));
    while (!pending.empty()) {
      const std::uint32_t index = pending.back();
      pending.pop_back();
      if (index >= entries || seen[index]) continue;
      seen[index] = true;
      const std::uint8_t* entry = directory_.data() + 128 * std::size_t{index};
      pending.push_back(LoadLe32(entry + 68));
      pending.push_back(LoadLe32(entry + 72));
      if (entry[66] != 2) continue;
      std::string name;
      for (std::size_t c = 0; c + 2 < std::min<std::size_t>(LoadLe16(entry + 64), 64); c += 2) {
        name += static_cast<char>(entry[c]);
      }
      streams.emplace(name, std::pair{LoadLe32(entry + 116), LoadLe32(entry + 120)});
    }
    return streams;
  }

  // Reads the image as last placed and notes every check its bookkeeping
  // allows, as far as the parts read so far are sound. Returns the number
  // of the file's clusters the checks reach.
  std::size_t Derive(const Bytes& image) {
    checks_.clear();
    fatSectors_.clear();
    fileSectors_ = 0;
    highestChecked_ = 0;
    directory_.clear();
    streams_.clear();
    miniFat_.clear();
    const std::uint8_t* header = image.data();
    const std::uint32_t fatCount = LoadLe32(header + 44);
    if (fatCount == 0 || fatCount > kLargestFatCount) return 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(fatCount, 109); ++i) {
      const std::uint32_t s = LoadLe32(header + 76 + 4 * i);
      if (!IsSectorNumber(s)) return 0;
      fatSectors_.push_back(s);
    }
    std::uint32_t difat = LoadLe32(header + 68);
    bool complete = true;
    for (std::size_t guard = 0; fatSectors_.size() < fatCount && guard < kLargestFatCount; ++guard) {
      if (!IsSectorNumber(difat)) return 0;
      Add(difat + 1, {Role::Difat});
      const std::uint8_t* data = SectorAt(image, difat + 1);
      if (data == nullptr || !PassDifat(data)) {
        complete = false;
        break;
      }
      for (std::size_t k = 0; k < 127 && fatSectors_.size() < fatCount; ++k) fatSectors_.push_back(LoadLe32(data + 4 * k));
      difat = LoadLe32(data + 508);
    }
    for (std::size_t i = 0; i < fatSectors_.size(); ++i) {
      if (!IsSectorNumber(fatSectors_[i])) return 0;
      Add(fatSectors_[i] + 1, {Role::Fat, static_cast<std::uint32_t>(i)});
    }
    const std::size_t reach = UnitOf(highestChecked_) + 1;
    if (!complete) return reach;

    fat_.clear();
    for (std::size_t i = 0; i < fatSectors_.size(); ++i) {
      const std::uint8_t* data = SectorAt(image, fatSectors_[i] + 1);
      if (data == nullptr || !PassFat(data, static_cast<std::uint32_t>(i))) return reach;
      for (std::size_t k = 0; k < 128; ++k) fat_.push_back(LoadLe32(data + 4 * k));
    }
    std::size_t lastUsed = fat_.size();
    while (lastUsed > 0 && fat_[lastUsed - 1] == kFree) --lastUsed;
    if (lastUsed == 0 || lastUsed > kHighestSector + 1) return 0;
    fileSectors_ = lastUsed + 1;
    const std::size_t units = UnitOf(fileSectors_ - 1) + 1;

    const auto directory = Chain(fat_, LoadLe32(header + 48), kHighestSector);
    for (const std::uint32_t s : directory) Add(s + 1, {Role::Directory});
    directory_.clear();
    for (const std::uint32_t s : directory) {
      const std::uint8_t* data = SectorAt(image, s + 1);
      if (data == nullptr || !PassDirectory(data)) return units;
      directory_.insert(directory_.end(), data, data + kSector);
    }
    const auto streams = RootStreams();
    streams_ = streams;
    if (directory_.empty()) return units;
    cutoff_ = LoadLe32(header + 56);
    rootChain_ = Chain(fat_, LoadLe32(directory_.data() + 116), (LoadLe32(directory_.data() + 120) + kSector - 1) / kSector);
    miniFat_.clear();
    std::uint32_t index = 0;
    for (const std::uint32_t s : Chain(fat_, LoadLe32(header + 60), kHighestSector)) {
      Add(s + 1, {Role::MiniFat, index});
      const std::uint8_t* data = SectorAt(image, s + 1);
      if (data == nullptr || !PassTable(data, index++, false)) return units;
      for (std::size_t k = 0; k < 128; ++k) miniFat_.push_back(LoadLe32(data + 4 * k));
    }

    const auto word = streams.find("WordDocument");
    if (word == streams.end() || word->second.second < kSector) return units;
    const StreamMap wordChain = MapStream(word->second.first, word->second.second);
    if (wordChain.places.empty()) return units;
    Add(wordChain.places[0].first, {Role::Fib, wordChain.places[0].second});
    const auto wordBytes = StreamBytes(image, wordChain);
    if (!wordBytes || !PassFib(wordBytes->data())) return units;
    AddWordChecks(image, *wordBytes, wordChain, streams);
    return units;
  }

  // Rounds of placing and deriving until the checks stop growing: the
  // placement and the image it gives, at least the file's length; none when
  // this way of breaking ties finds no placement.
  std::optional<std::pair<Placement, Bytes>> Rounds(bool lateGaps) {
    Bytes image = clusters_[0].bytes;
    std::map<std::size_t, std::vector<Check>> previous;
    std::size_t previousUnits = 0;
    std::optional<std::pair<Placement, std::int64_t>> placed;
    for (int round = 0; round < kRounds; ++round) {
      const std::size_t units = Derive(image);
      if (units == 0) return std::nullopt;
      if (placed && checks_ == previous && units == previousUnits) break;
      previous = checks_, previousUnits = units;
      placed = Place(units, lateGaps);
      if (!placed) return std::nullopt;
      image = Assemble(placed->first);
    }
    if (!placed || fileSectors_ == 0 || image.size() < fileSectors_ * kSector) return std::nullopt;
    return std::pair{placed->first, std::move(image)};
  }

  // A placement by which the file holds together.
  std::optional<std::pair<Placement, Bytes>> Solve(bool lateGaps) {
    auto solved = Rounds(lateGaps);
    if (!solved || !Vouched(solved->first)) return std::nullopt;
    solved->second.resize(fileSectors_ * kSector);
    if (CheckDocument(solved->second).verdict != Verdict::Whole) return std::nullopt;
    return solved;
  }

  // Whether every cluster used that looks foreign or random is one whose
  // bytes some check vouched for. Where nothing checks a cluster, a foreign
  // one would pass as well as the document's own, and a guess is not a
  // rescue.
  bool Vouched(const Placement& placement) const {
    for (std::size_t unit = 1; unit < placement.size(); ++unit) {
      if (clusters_[placement[unit]].costs.use == 0) continue;
      const auto it = checks_.lower_bound(FirstSectorOf(unit));
      if (it == checks_.end() || UnitOf(it->first) != unit) return false;
    }
    return true;
  }

  // A placement in which clusters may be lost, the image it gives and, per
  // cluster of the file, whether it checked: it passed every check of its
  // sectors, and if it looks foreign or random, some check vouched for it.
  struct Loose {
    Placement placement;
    Bytes image;
    std::vector<bool> checked;
  };

  std::optional<Loose> SolveLoose(bool lateGaps) {
    auto solved = Rounds(lateGaps);
    if (!solved) return std::nullopt;
    // The checks of the last derivation, which the text is read by.
    if (Derive(solved->second) == 0 || fileSectors_ == 0) return std::nullopt;
    Loose loose{solved->first, std::move(solved->second), std::vector<bool>(solved->first.size(), false)};
    for (std::size_t unit = 0; unit < loose.placement.size(); ++unit) {
      const std::size_t i = loose.placement[unit];
      if (FitOf(unit, i, loose.placement.size()) != Fit::Checked) continue;
      const auto it = checks_.lower_bound(FirstSectorOf(unit));
      loose.checked[unit] = clusters_[i].costs.use == 0 || (it != checks_.end() && UnitOf(it->first) == unit);
    }
    return loose;
  }

  // The text of a Word document from the clusters that checked in five
  // placements and lie at the same place in all: gaps as early and as late
  // as possible, gaps where every cluster looks alike to use, clusters
  // lost cheaply, and clusters lost cheaply where every gap is dear. A
  // lost cluster lets the clusters near it shift (text passes its checks
  // wherever it lies): clusters of the document that look random, or
  // another document's, are skipped in one placement and used in another,
  // and a document with more clusters lost than the dearest placement
  // admits has its text shifted over one of them; where the placements
  // differ, the checks cannot tell which is right. The FAT, the directory,
  // the FIB and the piece table must be among the clusters that agree,
  // since they say where the text lies.
  std::optional<PartialText> Partial() {
    allowLost_ = true;
    looksAlike_ = true;
    const auto alike = SolveLoose(false);
    looksAlike_ = false;
    if (!alike) return std::nullopt;
    cheapLoss_ = true;
    const auto cheap = SolveLoose(false);
    // Nor can a cluster that looks foreign be told from the document's own
    // when the document's text breaks the rules of Word's characters (a
    // file damaged before it was lost): its own clusters then fail their
    // checks where they belong, and skipping one that looks foreign lets
    // the clusters after it shift into places where they pass, the
    // stretch of the stream before them read as text. Where skipping
    // costs more than a loss, the clusters stay where they lie.
    dearGaps_ = true;
    const auto dear = SolveLoose(false);
    dearGaps_ = false;
    cheapLoss_ = false;
    // Losing clusters cheaply can leave the file's bookkeeping misplaced
    // and no placement at all; only one that holds is heard.
    const bool heard = cheap && cheap->placement.size() == alike->placement.size();
    const bool dearHeard = dear && dear->placement.size() == alike->placement.size();
    const auto early = SolveLoose(false);
    if (!early) return std::nullopt;
    const auto late = SolveLoose(true);  // its derivation stays, for the streams' places
    if (!late || late->placement.size() != early->placement.size() ||
        alike->placement.size() != early->placement.size())
      return std::nullopt;
    std::vector<bool> sound(late->placement.size());
    for (std::size_t unit = 0; unit < sound.size(); ++unit) {
      sound[unit] = early->placement[unit] == late->placement[unit] && alike->placement[unit] == late->placement[unit] &&
                    (!heard || (cheap->placement[unit] == late->placement[unit] && cheap->checked[unit])) &&
                    (!dearHeard || (dear->placement[unit] == late->placement[unit] && dear->checked[unit])) &&
                    early->checked[unit] && late->checked[unit] && alike->checked[unit];
    }
    const auto soundSector = [&](std::size_t f) { return UnitOf(f) < sound.size() && sound[UnitOf(f)]; };
    for (const std::uint32_t s : fatSectors_) {
      if (!soundSector(s + 1)) return std::nullopt;
    }
    for (const auto& [f, checks] : checks_) {
      for (const Check& check : checks) {
        if (IsBookkeeping(check.role) && !soundSector(f)) return std::nullopt;
      }
    }
    const auto streamOf = [&](const char* name) -> std::optional<std::pair<StreamMap, Bytes>> {
      const auto it = streams_.find(name);
      if (it == streams_.end()) return std::nullopt;
      StreamMap map = MapStream(it->second.first, it->second.second);
      auto bytes = StreamBytes(late->image, map);
      if (!bytes) return std::nullopt;
      return std::pair{std::move(map), std::move(*bytes)};
    };
    const auto word = streamOf("WordDocument");
    if (!word || word->second.size() < kSector) return std::nullopt;
    const auto soundBytes = [&](const StreamMap& map, std::size_t offset, std::size_t size) {
      for (std::size_t block = offset / map.block; block * map.block < offset + size; ++block) {
        if (block >= map.places.size() || !soundSector(map.places[block].first)) return false;
      }
      return true;
    };
    // The FIB, and the piece table it points to: in the table stream
    // (Word 97 and later) or, for Word 6 and 95 saved quickly, in its own.
    const Bytes& wordBytes = word->second;
    const auto table0 = streamOf("0Table");
    const auto table1 = streamOf("1Table");
    const std::uint16_t nFib = LoadLe16(wordBytes.data() + 2), flags = LoadLe16(wordBytes.data() + 10);
    if (LoadLe16(wordBytes.data()) == kWord97Ident && (nFib < 101 || nFib > 105)) {
      const std::size_t cslwAt = 0x20 + 2 + 2 * std::size_t{LoadLe16(wordBytes.data() + 0x20)};
      if (cslwAt + 2 > wordBytes.size()) return std::nullopt;
      const std::size_t clxAt = cslwAt + 2 + 4 * std::size_t{LoadLe16(wordBytes.data() + cslwAt)} + 2 + 8 * 33;
      const auto& table = (flags & 0x0200) != 0 ? table1 : table0;
      if (!table || clxAt + 8 > wordBytes.size() || !soundBytes(word->first, 0, clxAt + 8)) return std::nullopt;
      const std::uint32_t fcClx = LoadLe32(wordBytes.data() + clxAt), lcbClx = LoadLe32(wordBytes.data() + clxAt + 4);
      if (!soundBytes(table->first, fcClx, lcbClx)) return std::nullopt;
    } else if (!soundBytes(word->first, 0, 0x168) ||
               ((flags & 0x0004) != 0 &&
                !soundBytes(word->first, LoadLe32(wordBytes.data() + 0x160), LoadLe32(wordBytes.data() + 0x164)))) {
      return std::nullopt;
    }
    // The text is read by the streams' places as this derivation has them;
    // where the reader of rescued files would take other bytes for the
    // streams (a file whose bookkeeping can be read two ways), neither
    // reading can be vouched for.
    Bytes file(late->image.begin(), late->image.begin() + static_cast<std::ptrdiff_t>(fileSectors_ * kSector));
    const auto compound = CompoundFile::Open(file);
    if (!compound || compound->Stream("WordDocument") != std::optional<Bytes>(wordBytes)) return std::nullopt;
    for (const auto& [name, table] : {std::pair{"0Table", &table0}, std::pair{"1Table", &table1}}) {
      if (*table && compound->Stream(name) != std::optional<Bytes>((*table)->second)) return std::nullopt;
    }
    const Bytes none;
    PartialText partial;
    partial.text = WordText(wordBytes, table0 ? table0->second : none, table1 ? table1->second : none,
                            std::numeric_limits<std::size_t>::max(),
                            [&](std::size_t offset, std::size_t size) { return soundBytes(word->first, offset, size); });
    if (partial.text.find_first_not_of(" \t\n") == std::string::npos) return std::nullopt;
    for (std::size_t unit = 0; unit < sound.size(); ++unit) {
      if (!sound[unit]) continue;
      const auto& sectors = clusters_[late->placement[unit]].sectors;
      const std::size_t first = FirstSectorOf(unit);
      for (std::size_t k = 0; k < sectors.size() && first + k < fileSectors_; ++k) partial.sectors.push_back(sectors[k]);
    }
    return partial;
  }

  Reassembly Result(const Placement& placement, Bytes image) const {
    Reassembly result;
    result.bytes = std::move(image);
    result.directory = directory_;
    const std::size_t wanted = result.bytes.size() / kSector;
    for (const std::size_t i : placement) {
      for (const std::int64_t s : clusters_[i].sectors) {
        (result.sectors.size() < wanted ? result.sectors : result.clusterTail).push_back(s);
      }
    }
    return result;
  }

  RescueRun& run_;
  const std::int64_t spc_;
  const std::int64_t phase_;
  const std::int64_t first_;
  std::int64_t cursor_;
  const std::int64_t last_;
  const std::chrono::steady_clock::time_point started_;
  std::vector<Cluster> clusters_;
  std::vector<std::int64_t> prefix_{0};  // prefix_[k]: the cost of skipping source clusters 0..k-1
  std::map<std::size_t, std::vector<Check>> checks_;  // by the file's sector (0 is the header)
  std::vector<std::uint32_t> fatSectors_;
  std::size_t fileSectors_ = 0;  // with the header; 0 until the FAT is read
  std::size_t highestChecked_ = 0;
  Bytes directory_;
  std::vector<std::uint32_t> fat_, miniFat_, rootChain_;
  std::uint32_t cutoff_ = 4096;
  std::map<std::string, std::pair<std::uint32_t, std::uint32_t>> streams_;  // the root's, as last derived
  bool allowLost_ = false;  // whether a placement may hold clusters that fail their checks
  bool looksAlike_ = false;  // whether placing ignores what the clusters look like
  bool cheapLoss_ = false;   // whether a lost cluster costs little
  bool dearGaps_ = false;    // whether skipping any cluster costs what skipping the document's would
};

}  // namespace

ReassemblyOutcome ReassembleCompound(RescueRun& run, std::int64_t hitOffset) {
  if (run.BytesPerSector() != kSector) return {};
  return Reassembler(run, hitOffset).Run();
}

}  // namespace vellumark
