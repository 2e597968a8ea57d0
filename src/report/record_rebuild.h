#pragma once

#include <optional>
#include <string>
#include <vector>

#include "access/sector_source.h"
#include "rescue/file_type_code.h"
#include "report/read_back.h"
#include "rescue/volume_records.h"

namespace vellumark {

// The document kind a file's name says by its extension (".doc", ".XLSX"
// ...), where it names one.
std::optional<DocumentKind> KindOfFileName(const std::string& name);

// Documents rebuilt from their file's record where the record lists every
// sector of the file (NTFS's data runs, ext4's extents, a contiguous exFAT
// file) or a guess from it does (a deleted FAT or exFAT file's free
// clusters from its first on), and the carving did not bring them back
// whole at that size. The sectors are read in the record's order, cut to
// its size, and kept only when the same checks as every rebuild's call
// them whole (the clusters may have been reused since). A guess is vouched
// for as a reassembly is, piece by piece; one whole only in its structure
// stands in only for a document the carving did not bring back that far.
// The file is written under the document's name, replacing the carving's,
// or the text it left. A header no rebuild held together is checked as the
// kind its file's name says, when that kind is among types. Returns how
// many of them had no file written before (the count of rescued files
// grows by that).
int RebuildFromRecords(SectorSource& source, std::vector<DocumentInspection>& report,
                       const std::vector<OriginalFile>& files, const std::string& saveFolder, TypeMask types);

}  // namespace vellumark
