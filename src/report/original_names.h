#pragma once

#include <string>
#include <vector>

#include "access/volume_map.h"
#include "report/read_back.h"
#include "rescue/volume_records.h"

namespace vellumark {

// The file a volume's records list that a document was: one whose first
// sector is the document's start sector and whose size is its length (or,
// for a size the rebuild rounded, the same count of 512-byte sectors); one
// whose name says the document's kind before one whose name does not, and a
// deleted file before a live one. None when no record matches.
const OriginalFile* MatchingFile(const DocumentRecord& record, const std::vector<OriginalFile>& files);

// Gives each document of the report its volume's start and, where a record
// matches it, the original name, folder and times. With moveFiles, a saved
// document is also moved to its original name and folder below saveFolder
// (made safe); one that cannot be moved keeps the name it was written under.
void NameAfterRecords(std::vector<DocumentInspection>& report, const std::vector<OriginalFile>& files,
                      const std::vector<VolumeRegion>& regions, bool moveFiles, const std::string& saveFolder);

}  // namespace vellumark
