#include "formats/document_kind.h"

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

}  // namespace vellumark
