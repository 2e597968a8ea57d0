#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/fixtures.h"

namespace vellumark::test {

// A corpus .docx or .odt whose body part holds count more paragraphs,
// numbered ("Paragraph 00000: ..."), re-zipped by Info-ZIP's zip in the
// order of its members: a body part long enough that zlib writes it in
// many deflate blocks. Empty when a tool is missing.
std::vector<std::uint8_t> LongOfficeDocument(const TempDir& dir, const std::string& corpusName, int count);

// The text of paragraph n of such a document.
std::string LongDocumentParagraph(int n);

// Where the body part's data lies in a ZIP archive: its local header's data
// offset and compressed size.
struct BodyData {
  std::size_t offset = 0;
  std::size_t size = 0;
};
BodyData BodyDataOf(const std::vector<std::uint8_t>& archive);

}  // namespace vellumark::test
