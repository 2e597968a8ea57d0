// ZIP-based office documents (.docx, .xlsx, .pptx, .odt): rebuilt from the
// hit sector and the unclaimed sectors after it, every member checked (its
// data must inflate to its size and CRC-32, every central directory entry
// must match its member), and written when its kind is selected. Each
// member's CRC says exactly which member holds foreign data; the foreign
// clusters inside it are found by leaving out cluster-aligned runs until
// the member checks. Archives that are not office documents are measured
// by the plain ZIP walk.
#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"
#include "formats/zip/office_package.h"
#include "formats/zip/office_text_salvage.h"
#include "formats/zip/zip_archive.h"
#include "rescue/carvers/zip_reassembly.h"

namespace vellumark {
namespace {

// The largest document rebuilt, as for compound documents.
constexpr std::int64_t kLargestDocument = 104'857'600;
// How many clusters of foreign data one gap may hold, and how much checking
// all trials of one document may cost (bytes of member data inflated).
constexpr std::int64_t kLongestGapClusters = 128;
constexpr std::int64_t kTrialBudget = std::int64_t{256} << 20;
// How far before the point where a member's check failed the foreign data
// may begin: a deflate stream fails soon after it meets foreign bytes.
constexpr std::int64_t kSearchBackBytes = 256 * 1024;
// How much further a member's data must inflate, once a run is left out,
// for that run to count as a gap of a member with more than one: foreign
// bytes stop a deflate stream within a few hundred bytes.
constexpr std::int64_t kProgress = 2048;
// How much reading the text of a package no rebuild holds together may
// cost: trials of where a deflate block starts, and bytes inflated.
constexpr std::uint64_t kSalvageBudget = std::uint64_t{16} << 20;
// And all such readings of one run, per sector of the source.
constexpr std::uint64_t kSalvageWorkPerSector = 1024;
// How much more than the walk loaded that reading looks at: the body part
// goes on past the foreign clusters the walk stopped at.
constexpr std::int64_t kSalvageReach = std::int64_t{256} << 10;

struct OfficeFormat {
  DocumentKind kind;
  TypeMask bit;
  const char* extension;
};

constexpr OfficeFormat kFormats[] = {
    {DocumentKind::WordDocx, type_mask::kDocx, ".DOCX"},
    {DocumentKind::ExcelXlsx, type_mask::kXlsx, ".XLSX"},
    {DocumentKind::PowerPointPptx, type_mask::kPptx, ".PPTX"},
    {DocumentKind::OdfText, type_mask::kOdt, ".ODT"},
};

// What the walk expects at an offset.
enum class Record : std::uint8_t { Member, Directory, Missing };

class OfficeWalk {
 public:
  explicit OfficeWalk(CarveAttempt& attempt)
      : attempt_(attempt),
        sector_(attempt.Run().BytesPerSector()),
        spc_(std::max<std::int64_t>(attempt.Run().spc, 1)),
        phase_(std::max<std::int64_t>(attempt.Run().chosenPhase, 0)) {}

  bool Run() {
    std::int64_t offset = 0;
    for (;;) {
      if (!Bring(offset + 4)) return false;
      const ByteView image = attempt_.View();
      if (image.Equals(offset, signature::kZipCentralHeader) && !members_.empty()) break;
      if (!image.Equals(offset, signature::kZipLocalHeader)) {
        // Foreign clusters where the next record should start.
        if (!Mend(offset, Record::Missing, offset)) return false;
        continue;
      }
      const ZipRecordCheck check = CheckRecord(offset, Record::Member);
      if (check.step != ZipStep::Done) return false;
      members_.push_back(check.member);
      offset = check.next;
    }
    const ZipRecordCheck directory = CheckRecord(offset, Record::Directory);
    if (directory.step != ZipStep::Done) return false;
    length_ = directory.next;
    attempt_.KeepOnly(length_);
    return true;
  }

  // Loads towards bytes, as far as the free sectors go.
  void LoadForSalvage(std::int64_t bytes) { LoadWhatThereIs(std::min(kLargestDocument, bytes)); }

  std::int64_t Length() const { return length_; }
  const std::vector<ZipMember>& Members() const { return members_; }
  std::span<const std::uint8_t> Bytes() const {
    const ByteView image = attempt_.View();
    return {image.Data(), image.Size()};
  }

 private:
  // Loads until the image holds bytes; false when the source ends first.
  bool Bring(std::int64_t bytes) {
    if (bytes > kLargestDocument) return false;
    return attempt_.Loaded() >= bytes || attempt_.LoadUpTo(bytes);
  }

  // More of the archive without knowing how much: half as much again as is
  // loaded, so that checking a member whose end is unknown stays linear.
  bool Grow() {
    const std::int64_t before = attempt_.Loaded();
    LoadWhatThereIs(std::min(kLargestDocument, before + std::max<std::int64_t>(before / 2, 64 * sector_)));
    return attempt_.Loaded() > before;
  }

  // Loads towards bytes, as far as the free sectors left allow: near the
  // source's end the archive may still end before it does.
  void LoadWhatThereIs(std::int64_t bytes) {
    std::int64_t target = bytes;
    while (target - attempt_.Loaded() >= sector_ && !attempt_.CanReach(target)) {
      target = attempt_.Loaded() + (target - attempt_.Loaded()) / 2;
    }
    if (target - attempt_.Loaded() >= sector_) attempt_.LoadUpTo(target);
  }

  ZipRecordCheck Check(std::span<const std::uint8_t> bytes, std::int64_t offset, Record record,
                       ZipInflateResume* resume = nullptr) const {
    if (record == Record::Directory) return CheckZipDirectory(bytes, offset, members_);
    ZipRecordCheck check = CheckZipMember(bytes, offset, resume);
    if (record == Record::Missing && check.step == ZipStep::Broken && !members_.empty()) {
      check = CheckZipDirectory(bytes, offset, members_);
    }
    return check;
  }

  // Checks the record at offset, loading what it needs, and mends it by
  // leaving foreign clusters out when it fails. A member whose size comes
  // after its data is inflated once as more of it is loaded, not again
  // from its start each time.
  ZipRecordCheck CheckRecord(std::int64_t offset, Record record) {
    for (;;) {
      const ZipRecordCheck check = Check(Bytes(), offset, record, &resume_);
      if (check.step == ZipStep::Done) return check;
      if (check.step == ZipStep::NeedBytes && (check.next > 0 ? Bring(check.next) : Grow())) continue;
      const std::int64_t failAt = check.step == ZipStep::Broken ? check.failAt : attempt_.Loaded();
      if (!Mend(offset, record, failAt)) return check;
    }
  }

  bool ClusterStart(std::int64_t imageSector) const {
    const std::int64_t sector = attempt_.Claims().Sectors()[static_cast<std::size_t>(imageSector)];
    return spc_ <= 1 || (sector - phase_) % spc_ == 0;
  }

  // Whether image sectors [first, first + count) are whole clusters, as a
  // foreign file's would be: they start a cluster, break only where a
  // cluster starts, and the sector after them starts one too.
  bool WholeClusters(std::int64_t first, std::int64_t count) const {
    const auto& sectors = attempt_.Claims().Sectors();
    for (std::int64_t i = first + 1; i < first + count; ++i) {
      if (sectors[static_cast<std::size_t>(i)] != sectors[static_cast<std::size_t>(i - 1)] + 1 && !ClusterStart(i)) {
        return false;
      }
    }
    const std::int64_t after = first + count;
    return ClusterStart(first) && (after >= attempt_.Loaded() / sector_ || ClusterStart(after));
  }

  // The record from offset as it would be without image sectors [at, at + count).
  void Without(std::int64_t offset, std::int64_t at, std::int64_t count, std::vector<std::uint8_t>& trial) const {
    const ByteView image = attempt_.View();
    const auto before = image.Bytes(offset, at * sector_ - offset), after = image.From((at + count) * sector_);
    trial.clear();
    if (!before || !after) return;  // checks as nothing
    trial.assign(before->begin(), before->end());
    trial.insert(trial.end(), after->begin(), after->end());
  }

  // Finds a run of whole clusters before failAt whose removal makes the
  // record at offset check, and leaves it out of the file for good. A
  // member with several gaps checks only once all are out: then the run
  // whose removal lets its data inflate furthest past the gap is taken, and
  // the next gap is looked for from there. Only a member whose CRC finally
  // checks is kept, so a wrong step costs the document, never its bytes.
  bool Mend(std::int64_t offset, Record record, std::int64_t failAt) {
    const std::int64_t gapSectors = kLongestGapClusters * spc_;
    LoadWhatThereIs(attempt_.Loaded() + gapSectors * sector_);  // room for the longest gap after what is needed
    // The record's first sector is its own (its header was read from it);
    // a missing record's gap starts at the first sector boundary at or after
    // where it should stand, since the bytes before it are the last record's.
    const std::int64_t first = record == Record::Missing ? (offset + sector_ - 1) / sector_ : offset / sector_ + 1;
    const std::int64_t last = std::min(failAt / sector_, attempt_.Loaded() / sector_ - 1);
    std::vector<std::uint8_t> trial;
    // How far into the record the best trial's data went, as bytes of the
    // record itself: leaving out too little or too much stops it just as
    // early; the right run lets it go on to the next gap.
    std::int64_t bestAt = -1, bestCount = 0, bestReach = 0;
    for (std::int64_t at = last; at >= std::max(first, last - kSearchBackBytes / sector_); --at) {
      if (!ClusterStart(at)) continue;
      for (std::int64_t count = spc_; count <= gapSectors; count += spc_) {
        bool room = true;
        while (room && at + count >= attempt_.Loaded() / sector_) room = Grow();
        if (!room) break;
        if (!WholeClusters(at, count)) break;
        for (;;) {
          Without(offset, at, count, trial);
          spent_ += static_cast<std::int64_t>(trial.size());
          if (spent_ > kTrialBudget) return false;
          const ZipRecordCheck check = Check(trial, 0, record);
          if (check.step == ZipStep::Done) {
            attempt_.ExcludeLoadedSectors(at, count);
            resume_.Forget();
            return true;
          }
          if (check.step == ZipStep::Broken && check.failAt > bestReach) {
            bestAt = at, bestCount = count, bestReach = check.failAt;
          }
          // A record that checks as far as it goes wants the rest of itself.
          if (check.step != ZipStep::NeedBytes || !Grow()) break;
        }
      }
    }
    // Progress means inflating well past both the old failure and the gap.
    if (bestAt < 0 || offset + bestReach < std::max(failAt, bestAt * sector_) + kProgress) return false;
    attempt_.ExcludeLoadedSectors(bestAt, bestCount);
    resume_.Forget();
    return true;
  }

  CarveAttempt& attempt_;
  const std::int64_t sector_;
  const std::int64_t spc_;
  const std::int64_t phase_;
  std::vector<ZipMember> members_;
  std::int64_t length_ = 0;
  std::int64_t spent_ = 0;
  ZipInflateResume resume_;  // the member being inflated as more is loaded
};


// Keeps an office document put back together in its own order: its
// clusters are claimed as a carve attempt's would be, the rest of its last
// cluster too. Nothing unless the whole archive checks and is an office
// document.
bool KeepReassembled(RescueRun& run, std::int64_t hitOffset, const ZipReassembly& file) {
  const std::span<const std::uint8_t> bytes(file.bytes.data(), file.bytes.size());
  const ZipArchiveCheck check = CheckZipArchive(bytes);
  if (!check.fault.empty() || check.length != static_cast<std::int64_t>(bytes.size())) return false;
  const DocumentKind kind = OfficeKindOf(bytes, check.members);
  const auto format = std::find_if(std::begin(kFormats), std::end(kFormats), [&](const OfficeFormat& f) { return f.kind == kind; });
  if (format == std::end(kFormats)) return false;
  for (const std::int64_t sector : file.sectors) run.claims.ClaimSector(sector);
  for (const std::int64_t sector : file.clusterTail) run.claims.ClaimSector(sector);
  DocumentRecord record;
  record.kind = kind;
  record.startSector = hitOffset / run.BytesPerSector();
  record.length = static_cast<std::int64_t>(bytes.size());
  record.runs = RunsOf(file.sectors, file.sectors.size());
  record.reassembled = true;
  if ((run.typeMask & format->bit) != 0) {
    record.outputName = OutputName(run.saveFolder, hitOffset, format->extension);
    SaveDocument(run, record, bytes.data(), bytes.size());
  }
  run.documents.push_back(std::move(record));
  return true;
}


// Keeps a document the walk checked whole, as the attempt loaded it.
void KeepWalked(RescueRun& run, std::int64_t hitOffset, CarveAttempt& attempt, const OfficeWalk& walk) {
  const DocumentKind kind = OfficeKindOf(walk.Bytes().first(static_cast<std::size_t>(walk.Length())), walk.Members());
  const auto format = std::find_if(std::begin(kFormats), std::end(kFormats),
                                   [&](const OfficeFormat& f) { return f.kind == kind; });
  if (format == std::end(kFormats)) {
    attempt.Succeed();  // a whole archive all the same: measured
    return;
  }
  const std::int64_t bytesPerSector = run.BytesPerSector();
  DocumentRecord record;
  record.kind = kind;
  record.startSector = hitOffset / bytesPerSector;
  record.length = walk.Length();
  record.runs = RunsOf(attempt.Claims().Sectors(),
                       static_cast<std::size_t>((walk.Length() + bytesPerSector - 1) / bytesPerSector));
  if ((run.typeMask & format->bit) != 0) {
    record.outputName = OutputName(run.saveFolder, hitOffset, format->extension);
    const std::span<const std::uint8_t> file = walk.Bytes().first(static_cast<std::size_t>(walk.Length()));
    SaveDocument(run, record, file.data(), file.size());
  }
  run.documents.push_back(std::move(record));
  attempt.Succeed();
}

// Keeps the text of a .docx or .odt no rebuild brought back whole, under
// the document's own number with the extension of text, as for a Word 97
// document: its body part inflated as far as its data is sound and the
// other parts of its text that check. The sectors are read afresh from the
// hit on, as they lie (the walk may have left some out on a guess), as much
// again as the walk had loaded and a little more, since the body part goes
// on past the foreign data the walk stopped at. It claims nothing: the text
// is a reading of the sectors, not a file carved from them.
void KeepSalvagedText(RescueRun& run, std::int64_t hitOffset, std::int64_t walked) {
  if ((run.typeMask & (type_mask::kDocx | type_mask::kOdt)) == 0) return;
  const std::uint64_t allowed =
      kSalvageBudget + kSalvageWorkPerSector * static_cast<std::uint64_t>(std::max<std::int64_t>(run.LastSourceSector(), 0));
  if (run.salvageWork >= allowed) return;
  CarveAttempt attempt(run, hitOffset, kGrowthLarge);
  if (!attempt.Start()) return;
  OfficeWalk walk(attempt);
  walk.LoadForSalvage(2 * walked + kSalvageReach);
  const auto salvaged =
      SalvageOfficeText(walk.Bytes(), std::min(kSalvageBudget, allowed - run.salvageWork), run.salvageWork);
  if (!salvaged) return;
  const TypeMask bit = salvaged->kind == DocumentKind::OdfText ? type_mask::kOdt : type_mask::kDocx;
  if ((run.typeMask & bit) == 0) return;
  const std::int64_t bytesPerSector = run.BytesPerSector();
  DocumentRecord record;
  record.kind = salvaged->kind;
  record.startSector = hitOffset / bytesPerSector;
  record.length = static_cast<std::int64_t>(salvaged->text.size());
  const std::int64_t sectors = std::min(attempt.Loaded(), salvaged->extent + bytesPerSector - 1) / bytesPerSector;
  record.runs = RunsOf(attempt.Claims().Sectors(), static_cast<std::size_t>(sectors));
  record.partialText = true;
  record.recoveredPercent = salvaged->percent;
  record.outputName = OutputName(run.saveFolder, hitOffset, ".TXT");
  SaveText(run, record, salvaged->text);
  run.documents.push_back(std::move(record));
}

}  // namespace

// A document whose rebuild from the sectors after its start does not check
// is put back together in its own order, from its central directory and
// its members' headers, once the attempt has let its sectors go; when that
// does not hold together either, its text is read as far as it can be.
void OfficeDocumentCarver(RescueRun& run, std::int64_t hitOffset) {
  bool package = false;
  std::int64_t walked = 0;  // how far the walk of a package that failed had loaded
  {
    CarveAttempt attempt(run, hitOffset, kGrowthLarge);
    if (!attempt.Start()) return;
    if (!attempt.View().Equals(0, signature::kZipLocalHeader)) return;
    package = StartsLikeAnOfficePackage(attempt.View());
    if (package) {
      OfficeWalk walk(attempt);
      if (walk.Run()) {
        KeepWalked(run, hitOffset, attempt, walk);
        return;
      }
      walked = attempt.Loaded();
    }
  }
  if (!package) {
    ZipCarver(run, hitOffset);
    return;
  }
  if (run.claims.IsSectorClaimed(hitOffset / run.BytesPerSector())) return;
  const ZipReassemblyOutcome outcome = ReassembleZip(run, hitOffset);
  if (outcome.whole && KeepReassembled(run, hitOffset, *outcome.whole)) return;
  KeepSalvagedText(run, hitOffset, walked);
}

}  // namespace vellumark
