// Compound files (the container of Word, Excel and PowerPoint 97-2003 files)
// with 512-byte sectors: the file's length comes from its FAT, its kind from
// the first of four stream names in its directory.
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "rescue/file_signatures.h"
#include "rescue/carvers/carvers.h"
#include "rescue/carvers/compound_reassembly.h"
#include "rescue/report/document_check.h"

namespace vellumark {
namespace {

constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::int64_t kHighestSector = 204'798;       // bounds every load to 100 MiB
constexpr std::int64_t kLargestFile = 104'857'600;      // (204,798 + 2) * 512
// A FAT of 1,600 sectors maps 204,800 sectors, all a file of the largest size has.
constexpr std::size_t kLargestFat = 1'600 * 512;
constexpr int kHeaderDifatEntries = 109;
constexpr int kDifatEntriesPerSector = 127;             // entry 127 links to the next
constexpr std::int64_t kCompoundSector = 512;

struct StreamKind {
  const char* name;
  TypeMask bit;
  const char* extension;
  DocumentKind kind;
};

constexpr StreamKind kKinds[] = {
    {"WordDocument", type_mask::kWord, ".DOC", DocumentKind::Word},
    {"Workbook", type_mask::kExcel, ".XLS", DocumentKind::Excel},
    {"PowerPoint Document", type_mask::kPowerPoint, ".PPT", DocumentKind::PowerPoint},
    // Excel 5.0 and 95 keep their workbook in a stream of this name.
    {"Book", type_mask::kExcel, ".XLS", DocumentKind::Excel},
};

// Sectors met on a chain. A set of those met rather than a bit per possible
// sector: every hit walks a header, and most walks end after a few sectors,
// so the cost must follow the walk, not the largest file.
using SectorSet = std::unordered_set<std::uint32_t>;

bool NameIs(ByteView entry, std::size_t characters, const char* name) {
  if (std::strlen(name) != characters) return false;
  for (std::size_t i = 0; i < characters; ++i) {
    if (entry.Le16(2 * i) != static_cast<std::uint8_t>(name[i])) return false;
  }
  return true;
}

// The first of the four stream names in directory order decides, even
// when its kind is not to be saved.
const StreamKind* FirstKindIn(const std::vector<std::uint8_t>& directory) {
  const ByteView entries(directory.data(), directory.size());
  for (std::size_t at = 0; at + 128 <= directory.size(); at += 128) {
    const auto entry = entries.Bytes(at, 128);
    const auto nameLength = entry ? entry->Le16(64) : std::nullopt;
    if (!nameLength) break;
    const std::uint16_t length = *nameLength;
    if (length < 4 || length > 64) break;  // an unused entry ends the walk
    const std::size_t characters = (length - 2u) / 2u;
    for (const StreamKind& kind : kKinds) {
      if (NameIs(*entry, characters, kind.name)) return &kind;
    }
  }
  return nullptr;
}

// Walks one compound file inside a carve attempt. Offsets are into the
// rebuilt image, whose compound sector k starts at (k + 1) * 512.
class CompoundWalk {
 public:
  explicit CompoundWalk(CarveAttempt& attempt) : attempt_(attempt) {}

  bool Run() {
    if (!attempt_.LoadUpTo(kCompoundSector)) return false;  // sectors smaller than the header
    if (!attempt_.View().Equals(0, signature::kCompoundDocument)) return false;
    if (HeaderWord(28) != 0x0009FFFEu) return false;  // little-endian byte order, 512-byte sectors
    if (!ReadHeaderDifat() || !ReadDifatChain()) return false;
    if (!LoadToFatSize()) return false;
    if (!ReadDirectory()) return false;
    kind_ = FirstKind();
    return true;
  }

  // The first of the four stream names in directory order decides, even
  // when its kind is not to be saved.
  const StreamKind* Kind() const { return kind_; }
  std::int64_t FileBytes() const { return fileBytes_; }

 private:
  std::optional<std::uint32_t> HeaderWord(std::size_t offset) const { return attempt_.View().Le32(offset); }
  std::optional<std::uint32_t> SectorWord(std::uint32_t sector, int index) const {
    return attempt_.View().Le32((sector + 1) * kCompoundSector + index * 4);
  }
  ByteView Fat() const { return ByteView(fat_.data(), fat_.size()); }

  bool LoadSector(std::uint32_t sector) { return attempt_.LoadUpTo((sector + 2) * kCompoundSector); }

  bool AppendFatSector(std::uint32_t sector) {
    if (!LoadSector(sector)) return false;
    const auto bytes = attempt_.View().Bytes((sector + 1) * kCompoundSector, kCompoundSector);
    if (!bytes) return false;
    fat_.insert(fat_.end(), bytes->begin(), bytes->end());
    return true;
  }

  // Writers list FAT sectors in any order (Word itself often does), so the
  // order is not checked; a sector listed twice, or more FAT sectors than a
  // file of the largest size needs, means the header is damaged.
  bool AddFatSector(std::uint32_t sector) {
    if (sector > kHighestSector || fat_.size() >= kLargestFat || !seenFat_.insert(sector).second) return false;
    return AppendFatSector(sector);
  }

  bool ReadHeaderDifat() {
    for (int i = 0; i < kHeaderDifatEntries; ++i) {
      const auto entry = HeaderWord(76 + 4 * static_cast<std::size_t>(i));
      if (!entry) return false;
      if (*entry == kFreeSector) break;
      if (!AddFatSector(*entry)) return false;
    }
    return true;
  }

  bool ReadDifatChain() {
    const auto firstDifat = HeaderWord(68);
    if (!firstDifat) return false;
    std::uint32_t difat = *firstDifat;
    SectorSet visited;
    // Writers end the chain with end-of-chain, and some (LibreOffice among
    // them) with the free marker; both mean there is no further sector.
    while (difat != kEndOfChain && difat != kFreeSector) {
      if (difat > kHighestSector || !visited.insert(difat).second) return false;  // out of range, or a loop
      if (!LoadSector(difat)) return false;
      for (int i = 0; i < kDifatEntriesPerSector; ++i) {
        const auto entry = SectorWord(difat, i);
        if (!entry) return false;
        if (*entry == kFreeSector) break;
        if (!AddFatSector(*entry)) return false;
      }
      const auto next = SectorWord(difat, kDifatEntriesPerSector);
      if (!next) return false;
      difat = *next;
    }
    return true;
  }

  // The file ends with the last sector the FAT has in use. On disks whose
  // sectors are larger than the file's, the last disk sector also holds
  // bytes past that end; they are not part of the document.
  bool LoadToFatSize() {
    fileBytes_ = attempt_.Loaded();
    for (std::size_t i = fat_.size() / 4; i-- > 0;) {
      const auto entry = Fat().Le32(4 * i);
      if (!entry) return false;
      if (*entry == kFreeSector) continue;
      const std::int64_t size = (static_cast<std::int64_t>(i) + 2) * kCompoundSector;
      if (size > kLargestFile || !attempt_.LoadUpTo(size)) return false;
      fileBytes_ = size;
      return true;
    }
    return true;
  }

  // Documents with many embedded objects have long directories, so the
  // chain is not cut at a fixed length; a sector met twice is a loop.
  bool ReadDirectory() {
    const auto firstSector = HeaderWord(48);
    if (!firstSector) return false;
    std::uint32_t sector = *firstSector;
    SectorSet visited;
    while (sector != kEndOfChain) {
      if (sector > kHighestSector || !visited.insert(sector).second) return false;
      if (!LoadSector(sector)) return false;
      const auto bytes = attempt_.View().Bytes((sector + 1) * kCompoundSector, kCompoundSector);
      if (!bytes) return false;
      directory_.insert(directory_.end(), bytes->begin(), bytes->end());
      // The chain's next link must lie inside the FAT that was read.
      if ((static_cast<std::size_t>(sector) + 1) * 4 > fat_.size()) return false;
      const auto next = Fat().Le32(4 * static_cast<std::size_t>(sector));
      if (!next) return false;
      sector = *next;
    }
    return true;
  }

  const StreamKind* FirstKind() const { return FirstKindIn(directory_); }

  CarveAttempt& attempt_;
  std::vector<std::uint8_t> fat_;
  SectorSet seenFat_;
  std::vector<std::uint8_t> directory_;
  const StreamKind* kind_ = nullptr;
  std::int64_t fileBytes_ = 0;
};

enum class PlainRebuild { Saved, NotWhole, WalkFailed };

// The rebuild from the hit sector and every unclaimed sector after it. With
// onlyWhole, a file that walks but does not pass the structure and content
// checks is left (its claims released) for the reassembly to try; one with
// unreadable sectors is kept as it is, since no other cluster can stand in
// for a sector the disk did not give.
PlainRebuild RebuildPlain(RescueRun& run, std::int64_t hitOffset, bool onlyWhole) {
  CarveAttempt attempt(run, hitOffset, kGrowthLarge);
  if (!attempt.Start()) return PlainRebuild::WalkFailed;
  CompoundWalk walk(attempt);
  if (!walk.Run()) return PlainRebuild::WalkFailed;
  const auto file = attempt.View().Bytes(0, static_cast<std::uint64_t>(walk.FileBytes()));
  if (!file) return PlainRebuild::WalkFailed;
  if (onlyWhole && attempt.UnreadableSectors().empty() &&
      CheckDocument({file->Data(), file->Size()}).verdict != Verdict::Whole)
    return PlainRebuild::NotWhole;

  const std::int64_t bytesPerSector = run.BytesPerSector();
  DocumentRecord record;
  record.kind = walk.Kind() != nullptr ? walk.Kind()->kind : DocumentKind::Other;
  record.startSector = hitOffset / bytesPerSector;
  record.length = walk.FileBytes();
  record.bytesPerSector = bytesPerSector;
  // The claims are the sectors loaded, in order; the file is their first ones.
  record.runs = RunsOf(attempt.Claims().Sectors(),
                       static_cast<std::size_t>((walk.FileBytes() + bytesPerSector - 1) / bytesPerSector));
  for (const std::int64_t sector : attempt.UnreadableSectors()) {
    if (RunsHold(record.runs, sector)) record.unreadableSectors.push_back(sector);
  }
  if (walk.Kind() != nullptr && (run.typeMask & walk.Kind()->bit) != 0) {
    record.outputName = OutputName(run.saveFolder, hitOffset, walk.Kind()->extension);
    SaveDocument(run, record, file->Data(), file->Size());
  }
  run.documents.push_back(std::move(record));
  attempt.Succeed();
  return PlainRebuild::Saved;
}

// Keeps a reassembled file: its clusters are claimed as a carve attempt's
// would be, the rest of its last cluster too.
void KeepReassembled(RescueRun& run, std::int64_t hitOffset, const Reassembly& file) {
  for (const std::int64_t sector : file.sectors) run.claims.ClaimSector(sector);
  for (const std::int64_t sector : file.clusterTail) run.claims.ClaimSector(sector);
  const StreamKind* kind = FirstKindIn(file.directory);
  DocumentRecord record;
  record.kind = kind != nullptr ? kind->kind : DocumentKind::Other;
  record.startSector = hitOffset / run.BytesPerSector();
  record.length = static_cast<std::int64_t>(file.bytes.size());
  record.runs = RunsOf(file.sectors, file.sectors.size());
  record.reassembled = true;
  if (kind != nullptr && (run.typeMask & kind->bit) != 0) {
    record.outputName = OutputName(run.saveFolder, hitOffset, kind->extension);
    SaveDocument(run, record, file.bytes.data(), file.bytes.size());
  }
  run.documents.push_back(std::move(record));
}

// Keeps the text read from a Word document no rebuild brought back whole,
// under the document's own number with the extension of text. It claims
// nothing: the text is a reading of the clusters, not a file carved from
// them, and the clusters stay free for whatever else they may hold.
void KeepPartialText(RescueRun& run, std::int64_t hitOffset, const PartialText& partial) {
  if ((run.typeMask & type_mask::kWord) == 0) return;
  DocumentRecord record;
  record.kind = DocumentKind::Word;
  record.startSector = hitOffset / run.BytesPerSector();
  record.length = static_cast<std::int64_t>(partial.text.size());
  record.runs = RunsOf(partial.sectors, partial.sectors.size());
  record.partialText = true;
  record.outputName = OutputName(run.saveFolder, hitOffset, ".TXT");
  SaveText(run, record, partial.text);
  run.documents.push_back(std::move(record));
}

}  // namespace

// A document that comes back whole from the plain rebuild is kept as it is;
// only one that does not is reassembled around foreign clusters, and when
// no reassembly holds together the plain rebuild is kept after all, damaged
// as it is, so that nothing that came back before is lost, and beside it
// the text of the parts that checked, which may be all a person can use.
void CompoundCarver(RescueRun& run, std::int64_t hitOffset) {
  const bool mayReassemble = run.BytesPerSector() == 512;
  const PlainRebuild plain = RebuildPlain(run, hitOffset, mayReassemble);
  if (plain == PlainRebuild::Saved || !mayReassemble) return;
  if (run.claims.IsSectorClaimed(hitOffset / 512)) return;
  const ReassemblyOutcome outcome = ReassembleCompound(run, hitOffset);
  if (outcome.whole) {
    KeepReassembled(run, hitOffset, *outcome.whole);
    return;
  }
  if (plain == PlainRebuild::NotWhole) RebuildPlain(run, hitOffset, false);
  if (outcome.partial) KeepPartialText(run, hitOffset, *outcome.partial);
}

}  // namespace vellumark
