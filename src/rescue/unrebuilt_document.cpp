#include "rescue/unrebuilt_document.h"

#include <algorithm>
#include <vector>

#include "common/byte_view.h"
#include "formats/zip/office_package.h"

namespace vellumark {
namespace {

constexpr TypeMask kOfficePackages = type_mask::kDocx | type_mask::kXlsx | type_mask::kPptx | type_mask::kOdt;

// Whether the hit starts a document the user is looking for. An archive's
// first sector is read again: only an office package's counts.
bool IsChosenDocument(RescueRun& run, const SectorHit& hit) {
  if (hit.code == code::kCompoundDocument) return (run.typeMask & type_mask::kAllDocuments) != 0;
  if (hit.code != code::kZip || (run.typeMask & kOfficePackages) == 0) return false;
  const std::uint32_t bytes = run.BytesPerSector();
  std::vector<std::uint8_t> sector(bytes);
  if (run.source.ReadSectors(sector.data(), static_cast<std::int32_t>(bytes),
                             hit.sector * static_cast<std::int64_t>(bytes)) != 0) {
    return false;
  }
  return StartsLikeAnOfficePackage(ByteView(sector.data(), sector.size()));
}

}  // namespace

void ListIfNotRebuilt(RescueRun& run, const SectorHit& hit, std::size_t recordsBefore, bool wasClaimed) {
  const auto& documents = run.documents;
  const bool rebuilt = std::any_of(documents.begin() + static_cast<std::ptrdiff_t>(recordsBefore), documents.end(),
                                   [&](const DocumentRecord& r) { return r.startSector == hit.sector && !r.partialText; });
  if (rebuilt || !IsChosenDocument(run, hit)) return;
  DocumentRecord record;
  record.kind = DocumentKind::Other;  // no structure of it could be read
  record.startSector = hit.sector;
  record.notRebuilt = true;
  if (wasClaimed) {
    const auto holder = std::find_if(documents.begin(), documents.end(), [&](const DocumentRecord& r) {
      return !r.notRebuilt && !r.partialText && RunsHold(r.runs, hit.sector);
    });
    if (holder != documents.end()) record.insideDocumentAt = holder->startSector;
  }
  run.documents.push_back(std::move(record));
}

}  // namespace vellumark
