// Compound files (the container of Word, Excel and PowerPoint 97-2003 files)
// with 512-byte sectors: the file's length comes from its FAT, its kind from
// the first of four stream names in its directory, both read by the
// compound walk as the attempt loads the sectors it leads to.
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/compound/compound_walk.h"
#include "formats/document_check.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"
#include "rescue/carvers/compound_reassembly.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestFile = 104'857'600;  // bounds every load to 100 MiB

// What the rescue makes of each kind the directory names.
struct StreamKind {
  DocumentKind kind;
  TypeMask bit;
  const char* extension;
};

constexpr StreamKind kKinds[] = {
    {DocumentKind::Word, type_mask::kWord, ".DOC"},
    {DocumentKind::Excel, type_mask::kExcel, ".XLS"},
    {DocumentKind::PowerPoint, type_mask::kPowerPoint, ".PPT"},
};

// The first of the four stream names in directory order decides, even
// when its kind is not to be saved.
const StreamKind* FirstKindIn(const std::vector<std::uint8_t>& directory) {
  const DocumentKind kind = compound::CompoundKindOf(ByteView(directory.data(), directory.size()));
  for (const StreamKind& known : kKinds) {
    if (known.kind == kind) return &known;
  }
  return nullptr;
}

// Walks one compound file inside a carve attempt, loading what the walk
// asks for as it goes.
class AttemptWalk {
 public:
  explicit AttemptWalk(CarveAttempt& attempt) : attempt_(attempt), walk_(kLargestFile) {}

  bool Run() {
    for (;;) {
      const compound::WalkStep step = walk_.Step(attempt_.View());
      if (step.step == ZipStep::Done) break;
      if (step.step == ZipStep::Broken || !attempt_.LoadUpTo(step.need)) return false;
    }
    kind_ = FirstKindIn(walk_.Directory());
    return true;
  }

  const StreamKind* Kind() const { return kind_; }
  std::int64_t FileBytes() const { return walk_.FileBytes(); }

 private:
  CarveAttempt& attempt_;
  compound::CompoundWalk walk_;
  const StreamKind* kind_ = nullptr;
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
  AttemptWalk walk(attempt);
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
