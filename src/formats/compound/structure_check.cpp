#include "formats/compound/structure_check.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/byte_view.h"
#include "formats/compound/compound_layout.h"
#include "formats/file_signatures.h"
#include "formats/word/word_fib.h"

namespace vellumark {
namespace {

using compound::kDifatMark;
using compound::kEndOfChain;
using compound::kFatMark;
using compound::kFree;
using compound::kMiniSectorSize;
using compound::kNoEntry;
using compound::kSectorSize;
using compound::entry::kRoot;
using compound::entry::kStorage;
using compound::entry::kStream;
constexpr std::uint32_t kLastSector = compound::kLastSectorNumber;
namespace header = compound::header;
namespace entry_at = compound::entry;

std::string Sectors(std::uint64_t count) { return std::to_string(count) + (count == 1 ? " sector" : " sectors"); }

std::uint32_t SectorsFor(std::uint64_t bytes, std::size_t unit) {
  return static_cast<std::uint32_t>((bytes + unit - 1) / unit);
}

// One allocation table (the FAT or the mini FAT) with a record of which
// chain claimed each sector, so that sharing and loops show up as the chains
// are followed.
struct Table {
  std::vector<std::uint32_t> next;
  std::vector<std::uint32_t> owner;  // 0 = unclaimed, otherwise 1 + index into the owner names
  std::uint32_t present = 0;         // sectors that actually exist
  const char* outside = "the file";
};

struct Entry {
  std::string name;
  std::uint8_t type = 0;
  std::uint32_t left = kNoEntry, right = kNoEntry, child = kNoEntry, start = kEndOfChain, size = 0;
};

// Directory names are UTF-16; the report wants plain text, so control
// characters (as in "\x05SummaryInformation") are dropped.
std::string PrintableName(ByteView entry) {
  const auto length = entry.Le16(entry_at::kNameBytes);
  if (!length) return {};
  const std::size_t units = std::min<std::size_t>(*length, entry_at::kLongestName) / 2;
  std::string name;
  for (std::size_t i = 0; i < units; ++i) {
    const auto unit = entry.Le16(2 * i);
    if (!unit || *unit == 0) break;
    if (*unit >= 0x20 && *unit != 0x7F) name += *unit < 0x80 ? static_cast<char>(*unit) : '?';
  }
  return name;
}

// File sector k starts at byte (k + 1) * 512, after the header; stray bytes
// after the last whole sector hold nothing a chain may use.
std::uint32_t WholeSectors(std::size_t bytes) {
  return bytes < kSectorSize ? 0
                             : static_cast<std::uint32_t>(std::min<std::size_t>(bytes / kSectorSize - 1, kLastSector));
}

class StructureWalk {
 public:
  explicit StructureWalk(std::span<const std::uint8_t> file)
      : file_(file), bytes_(file.data(), file.size()), sectors_(WholeSectors(file.size())) {}

  // The first fault found; empty when the file holds together.
  std::string Fault() {
    (void)(CheckHeader() && ReadFat() && ReadDirectory() && ReadMiniFat() && CheckTree() && ReadMiniStream() &&
           CheckStreams() && CheckWordDocument());
    return fault_;
  }

 private:
  bool Fail(std::string fault) {
    fault_ = std::move(fault);
    return false;
  }

  // Reads through views: a sector or field the checks before should have
  // kept inside the file fails the check instead of being read past it.
  std::optional<std::uint32_t> Header32(std::size_t at) const { return bytes_.Le32(at); }
  std::optional<ByteView> SectorData(std::uint32_t sector) const {
    return bytes_.Bytes((sector + 1u) * kSectorSize, kSectorSize);
  }
  bool ShortHeader() { return Fail("header: file shorter than one sector"); }
  bool Outside(std::uint32_t sector, const std::string& name) {
    return Fail(name + ": sector " + std::to_string(sector) + " lies outside the file");
  }

  // Appends the first count 32-bit words of a sector.
  bool AppendWords(std::uint32_t sector, std::size_t count, std::vector<std::uint32_t>& into, const std::string& name) {
    const auto data = SectorData(sector);
    if (!data) return Outside(sector, name);
    for (std::size_t i = 0; i < count; ++i) {
      const auto word = data->Le32(4 * i);
      if (!word) return Outside(sector, name);
      into.push_back(*word);
    }
    return true;
  }

  bool CheckHeader() {
    if (file_.size() < kSectorSize) return ShortHeader();
    if (!bytes_.Equals(0, signature::kCompoundDocument)) return Fail("header: no compound file signature");
    if (bytes_.Le16(header::kMajorVersion) != 3 || Header32(header::kByteOrder) != header::kLittleEndian512 ||
        bytes_.Le16(header::kMiniSectorShift) != 6)
      return Fail("header: not a version 3 little-endian file of 512-byte sectors");
    fat_.present = sectors_;
    fat_.owner.assign(sectors_, 0);
    return true;
  }

  std::uint32_t Owner(const std::string& name) {
    owners_.push_back(name);
    return static_cast<std::uint32_t>(owners_.size());
  }

  // Claims one sector that the header or the DIFAT lists directly.
  bool ClaimListed(std::uint32_t sector, std::uint32_t owner, const std::string& name) {
    if (sector >= sectors_) return Fail(name + ": sector " + std::to_string(sector) + " lies outside the file");
    if (fat_.owner[sector] == owner) return Fail(name + ": sector " + std::to_string(sector) + " listed twice");
    if (fat_.owner[sector] != 0)
      return Fail(name + ": sector " + std::to_string(sector) + " also belongs to " + owners_[fat_.owner[sector] - 1]);
    fat_.owner[sector] = owner;
    return true;
  }

  // The header names the first 109 FAT sectors; the DIFAT chain names the rest.
  bool ReadFat() {
    const auto declaredFat = Header32(header::kFatSectors), firstDifat = Header32(header::kFirstDifatSector);
    if (!declaredFat || !firstDifat) return ShortHeader();
    const std::uint32_t fatCount = *declaredFat;
    if (fatCount == 0) return Fail("FAT: header counts no sectors");
    if (fatCount > sectors_) return Fail("FAT: header counts " + Sectors(fatCount) + ", more than the file holds");
    std::vector<std::uint32_t> fatSectors;
    for (std::size_t i = 0; i < std::min<std::size_t>(fatCount, header::kListedFatSectors); ++i) {
      const auto listed = Header32(header::kFatSectorList + 4 * i);
      if (!listed) return ShortHeader();
      fatSectors.push_back(*listed);
    }
    const std::uint32_t difat = Owner("DIFAT");
    std::vector<std::uint32_t> difatSectors;
    std::uint32_t next = *firstDifat;
    while (fatSectors.size() < fatCount) {
      if (next > kLastSector) return Fail("DIFAT: chain ends before listing all " + Sectors(fatCount) + " of the FAT");
      if (!ClaimListed(next, difat, "DIFAT")) return false;
      difatSectors.push_back(next);
      if (!AppendWords(next, std::min<std::size_t>(compound::difat::kFatSectorsPerSector, fatCount - fatSectors.size()), fatSectors, "DIFAT"))
        return false;
      const auto data = SectorData(next);
      const auto link = data ? data->Le32(compound::difat::kNextSector) : std::nullopt;
      if (!link) return Outside(next, "DIFAT");
      next = *link;
    }
    // LibreOffice ends the DIFAT chain with the free mark rather than end-of-chain.
    if (!difatSectors.empty() && next != kEndOfChain && next != kFree)
      return Fail("DIFAT: chain does not end after sector " + std::to_string(difatSectors.back()));
    const std::uint32_t fat = Owner("FAT");
    for (std::size_t i = 0; i < fatSectors.size(); ++i) {
      if (fatSectors[i] > kLastSector)
        return Fail("FAT: header counts " + Sectors(fatCount) + " but lists only " + std::to_string(i));
      if (!ClaimListed(fatSectors[i], fat, "FAT")) return false;
      if (!AppendWords(fatSectors[i], compound::kWordsPerSector, fat_.next, "FAT")) return false;
    }
    return CheckMarks(fatSectors, kFatMark, "FAT") && CheckMarks(difatSectors, kDifatMark, "DIFAT");
  }

  // The FAT marks its own sectors and the DIFAT's; a sector from elsewhere
  // standing in for one of them rarely carries the right mark. Some writers
  // mark a FAT sector as a one-sector chain instead, which readers accept.
  bool CheckMarks(const std::vector<std::uint32_t>& sectors, std::uint32_t mark, const std::string& name) {
    for (const std::uint32_t sector : sectors) {
      if (sector >= fat_.next.size() || (fat_.next[sector] != mark && fat_.next[sector] != kEndOfChain))
        return Fail(name + ": sector " + std::to_string(sector) + " lacks its mark in the FAT");
    }
    return true;
  }

  // Follows a chain from start, claiming each sector for name.
  bool Follow(Table& table, std::uint32_t start, const std::string& name, std::vector<std::uint32_t>& chain) {
    const std::uint32_t owner = Owner(name);
    for (std::uint32_t sector = start; sector != kEndOfChain; sector = table.next[sector]) {
      const std::string at = " sector " + std::to_string(sector);
      if (sector > kLastSector)
        return Fail(name + ": chain breaks " +
                    (chain.empty() ? "at its start" : "after sector " + std::to_string(chain.back())));
      if (sector >= table.present) return Fail(name + ": chain leaves " + table.outside + " at" + at);
      if (sector >= table.next.size()) return Fail(name + ":" + at + " lies beyond the allocation table");
      if (table.owner[sector] == owner) return Fail(name + ": chain loops at" + at);
      if (table.owner[sector] != 0)
        return Fail(name + ":" + at + " also belongs to " + owners_[table.owner[sector] - 1]);
      table.owner[sector] = owner;
      chain.push_back(sector);
    }
    return true;
  }

  // A stream's chain holds exactly as many sectors as its size fills; only
  // the mini stream may run longer (some writers leave it untrimmed).
  bool FollowSized(Table& table, std::uint32_t start, const std::string& name, std::uint32_t size, std::size_t unit,
                   std::vector<std::uint32_t>& chain, bool mayRunLonger = false) {
    if (!Follow(table, start, name, chain)) return false;
    const std::uint32_t needed = SectorsFor(size, unit);
    if (chain.size() < needed || (chain.size() > needed && !mayRunLonger))
      return Fail(name + ": chain has " + Sectors(chain.size()) + " for " + std::to_string(size) + " bytes");
    return true;
  }

  bool ReadDirectory() {
    std::vector<std::uint32_t> chain;
    const auto first = Header32(header::kFirstDirectorySector);
    if (!first) return ShortHeader();
    if (!Follow(fat_, *first, "directory", chain)) return false;
    if (chain.empty()) return Fail("directory: no sectors");
    for (const std::uint32_t sector : chain) {
      for (std::size_t at = 0; at < kSectorSize; at += entry_at::kSize) {
        const auto data = SectorData(sector);
        const auto raw = data ? data->Bytes(at, entry_at::kSize) : std::nullopt;
        if (!raw) return Outside(sector, "directory");
        const auto type = raw->Byte(entry_at::kType);
        const auto left = raw->Le32(entry_at::kLeftSibling), right = raw->Le32(entry_at::kRightSibling);
        const auto child = raw->Le32(entry_at::kChild);
        const auto start = raw->Le32(entry_at::kStartSector), size = raw->Le32(entry_at::kStreamSize);
        if (!type || !left || !right || !child || !start || !size) return Outside(sector, "directory");
        Entry entry{PrintableName(*raw), *type, *left, *right, *child, *start, *size};
        if (entry.name.empty()) entry.name = "entry " + std::to_string(entries_.size());
        if (entry.type != 0 && !CheckEntry(entry, *raw)) return false;
        entries_.push_back(std::move(entry));
      }
    }
    if (entries_[0].type != kRoot) return Fail("directory: first entry is not the root");
    return true;
  }

  bool CheckEntry(const Entry& entry, ByteView raw) {
    const std::string what = "directory: entry " + std::to_string(entries_.size());
    const auto nameBytes = raw.Le16(entry_at::kNameBytes);
    if (entry.type == kRoot && !entries_.empty()) return Fail(what + " claims to be the root");
    if (entry.type != kStorage && entry.type != kStream && entry.type != kRoot)
      return Fail(what + " has unknown type " + std::to_string(entry.type));
    if (!nameBytes || *nameBytes < 2 || *nameBytes > entry_at::kLongestName || *nameBytes % 2 != 0)
      return Fail(what + " has a bad name length");
    return true;
  }

  // Walks the red-black trees from the root; every link must land on a used
  // entry, once. Notes the root storage's Word stream on the way.
  bool CheckTree() {
    std::vector<bool> seen(entries_.size(), false);
    std::vector<std::pair<std::uint32_t, bool>> pending{{0, false}};  // entry, whether it sits directly under the root
    seen[0] = true;
    while (!pending.empty()) {
      const auto [index, underRoot] = pending.back();
      pending.pop_back();
      const Entry& entry = entries_[index];
      if (underRoot && entry.type == kStream && entry.name == "WordDocument") word_ = index;
      const std::uint32_t child = entry.type == kStream ? kNoEntry : entry.child;
      for (const auto& [link, linkUnderRoot] :
           {std::pair{entry.left, underRoot}, std::pair{entry.right, underRoot}, std::pair{child, index == 0}}) {
        if (link == kNoEntry) continue;
        const std::string what = "directory: " + entry.name + " links to entry " + std::to_string(link);
        if (link >= entries_.size() || entries_[link].type == 0) return Fail(what + ", which is unused");
        if (seen[link]) return Fail(what + " a second time");
        seen[link] = true;
        pending.emplace_back(link, linkUnderRoot);
      }
    }
    return true;
  }

  bool ReadMiniFat() {
    std::vector<std::uint32_t> chain;
    const auto first = Header32(header::kFirstMiniFatSector);
    if (!first) return ShortHeader();
    if (!Follow(fat_, *first, "mini FAT", chain)) return false;
    for (const std::uint32_t sector : chain) {
      if (!AppendWords(sector, compound::kWordsPerSector, mini_.next, "mini FAT")) return false;
    }
    mini_.outside = "the mini stream";
    return true;
  }

  // The root entry's own chain holds the mini stream that small streams live in.
  bool ReadMiniStream() {
    const Entry& root = entries_[0];
    if (!FollowSized(fat_, root.start, root.name, root.size, kSectorSize, miniStream_, true)) return false;
    mini_.present = SectorsFor(root.size, kMiniSectorSize);
    mini_.owner.assign(mini_.present, 0);
    return true;
  }

  bool CheckStreams() {
    const auto cutoff = Header32(header::kMiniStreamCutoff);
    if (!cutoff) return ShortHeader();
    cutoff_ = *cutoff;
    for (const Entry& entry : entries_) {
      if (entry.type != kStream || entry.size == 0) continue;
      std::vector<std::uint32_t> chain;
      const bool small = entry.size < cutoff_;
      if (!FollowSized(small ? mini_ : fat_, entry.start, entry.name, entry.size, small ? kMiniSectorSize : kSectorSize,
                       chain))
        return false;
    }
    return true;
  }

  bool CheckWordDocument() {
    if (word_ == kNoEntry) return true;
    const Entry& word = entries_[word_];
    std::optional<std::uint16_t> ident = 0;
    if (word.size >= 2 && word.size >= cutoff_) {
      const auto data = SectorData(word.start);
      ident = data ? data->Le16(0) : std::nullopt;
    } else if (word.size >= 2) {
      const std::size_t offset = word.start * kMiniSectorSize;
      const auto data = SectorData(miniStream_[offset / kSectorSize]);
      ident = data ? data->Le16(offset % kSectorSize) : std::nullopt;
    }
    if (!ident || !word_fib::IsWordIdent(*ident))
      return Fail(word.name + ": no Word file-information block");
    return true;
  }

  std::span<const std::uint8_t> file_;
  ByteView bytes_;
  std::uint32_t sectors_;  // whole sectors after the header
  std::uint32_t cutoff_ = 0;
  std::uint32_t word_ = kNoEntry;
  Table fat_, mini_;
  std::vector<std::string> owners_;
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> miniStream_;
  std::string fault_;
};

}  // namespace

StructureVerdict CheckStructure(std::span<const std::uint8_t> file) {
  std::string fault = StructureWalk(file).Fault();
  if (fault.empty()) return {Verdict::Whole, {}};
  return {Verdict::Damaged, std::move(fault)};
}

}  // namespace vellumark
