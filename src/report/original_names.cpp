#include "report/original_names.h"

#include "output/original_paths.h"
#include "report/record_rebuild.h"

namespace vellumark {

const OriginalFile* MatchingFile(const DocumentRecord& record, const std::vector<OriginalFile>& files) {
  const OriginalFile* best = nullptr;
  int bestScore = 0;
  const auto blocks = [](std::uint64_t bytes) { return (bytes + 511) / 512; };
  for (const OriginalFile& file : files) {
    if (file.firstSector != record.startSector || record.length <= 0) continue;
    const auto length = static_cast<std::uint64_t>(record.length);
    int score = 0;
    if (file.size == length) {
      score = 8;
    } else if (blocks(file.size) == blocks(length)) {
      score = 4;
    } else {
      continue;
    }
    // A record reused leaves several names at one start (ext4 gives a
    // freed inode to the next file, and an old name still leads to it):
    // a name that says the document's kind is the likelier.
    score += KindOfFileName(file.name) == record.kind ? 2 : 0;
    score += file.deleted ? 1 : 0;
    if (score > bestScore) best = &file, bestScore = score;
  }
  return best;
}

void NameAfterRecords(std::vector<DocumentInspection>& report, const std::vector<OriginalFile>& files,
                      const std::vector<VolumeRegion>& regions, bool moveFiles, const std::string& saveFolder) {
  for (DocumentInspection& inspection : report) {
    DocumentRecord& record = inspection.record;
    if (const VolumeRegion* region = RegionHolding(regions, record.startSector)) record.volumeStart = region->firstSector;
    if (record.notRebuilt || record.partialText) continue;
    const OriginalFile* file = MatchingFile(record, files);
    if (file == nullptr) continue;
    record.originalName = file->name;
    record.originalFolder = file->folder;
    record.originalCreated = file->created;
    record.originalModified = file->modified;
    if (!moveFiles || !record.saved || record.outputName.empty()) continue;
    if (const auto moved = MoveToOriginalPath(record.outputName, saveFolder, SafeRelativePath(file->folder, file->name))) {
      record.outputName = *moved;
    }
  }
}

}  // namespace vellumark
