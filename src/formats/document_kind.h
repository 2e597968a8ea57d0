#pragma once

#include <cstdint>

namespace vellumark {

// The kinds of document the rescue brings back.
enum class DocumentKind : std::uint8_t { Word, Excel, PowerPoint, Other, WordDocx, ExcelXlsx, PowerPointPptx, OdfText };

// Whether the kind is one of the ZIP-based office formats.
bool IsOfficeArchive(DocumentKind kind);

// "Word", "Excel", "PowerPoint", "Word (DOCX)" ... or "other": program and
// format names, the same in every language.
const char* KindName(DocumentKind kind);

}  // namespace vellumark
