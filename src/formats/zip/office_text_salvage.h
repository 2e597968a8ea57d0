#pragma once

// The text of an office package (.docx, .odt) that is no longer a whole
// archive: its body part inflated as far as its data is sound, and the
// other parts holding text whose data checks.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/document_kind.h"

namespace vellumark {

struct SalvagedOfficeText {
  DocumentKind kind = DocumentKind::Other;  // WordDocx or OdfText
  std::string text;                          // UTF-8, a paragraph a line
  // Of the body part's bytes, how many were inflated from sound data, in
  // percent; -1 when its size is not known.
  int percent = -1;
  // The end of the data the text was read from, as an offset in the bytes
  // given: the body part's, or that of a later part of the text.
  std::int64_t extent = 0;
};

// bytes: the archive as far as it is at hand, from its first local header.
// The members are found by their local headers wherever they lie, since the
// foreign bytes may stand where the walk from one to the next would go.
// Nothing when no body part is found or no text comes of it. The work
// (trials and bytes inflated) is bounded by budget and added to work.
std::optional<SalvagedOfficeText> SalvageOfficeText(std::span<const std::uint8_t> bytes, std::uint64_t budget,
                                                    std::uint64_t& work);

// The text of a stretch of a body part's XML, which may start and end in
// the middle of an element and hold lost bytes: a paragraph a line, the
// characters of Word's text runs (w:t) or of OpenDocument's paragraphs and
// headings.
std::string TolerantBodyText(std::span<const std::uint8_t> xml, bool openDocument);

}  // namespace vellumark
