#include "rescue/document_record.h"

#include <algorithm>

namespace vellumark {

const char* KindName(DocumentKind kind) {
  switch (kind) {
    case DocumentKind::Word: return "Word";
    case DocumentKind::Excel: return "Excel";
    case DocumentKind::PowerPoint: return "PowerPoint";
    case DocumentKind::WordDocx: return "Word (DOCX)";
    case DocumentKind::ExcelXlsx: return "Excel (XLSX)";
    case DocumentKind::PowerPointPptx: return "PowerPoint (PPTX)";
    case DocumentKind::OdfText: return "Writer (ODT)";
    case DocumentKind::Other: break;
  }
  return "other";
}

bool IsOfficeArchive(DocumentKind kind) {
  return kind == DocumentKind::WordDocx || kind == DocumentKind::ExcelXlsx || kind == DocumentKind::PowerPointPptx ||
         kind == DocumentKind::OdfText;
}

bool RunsHold(const std::vector<SectorRun>& runs, std::int64_t sector) {
  return std::any_of(runs.begin(), runs.end(),
                     [&](const SectorRun& run) { return sector >= run.first && sector < run.first + run.count; });
}

std::vector<SectorRun> RunsOf(const std::vector<std::int64_t>& sectors, std::size_t count) {
  std::vector<SectorRun> runs;
  for (std::size_t i = 0; i < std::min(count, sectors.size()); ++i) {
    if (!runs.empty() && runs.back().first + runs.back().count == sectors[i]) {
      ++runs.back().count;
    } else {
      runs.push_back({sectors[i], 1});
    }
  }
  return runs;
}

}  // namespace vellumark
