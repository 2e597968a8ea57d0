#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/document_kind.h"
#include "formats/zip/zip_archive.h"

namespace vellumark {

// Office packages start with one of these parts: the content types, the
// package relationships, an OpenDocument's mimetype, or a part of the
// document itself. Whether the local header that starts sector names one;
// any other archive is no office document.
bool StartsLikeAnOfficePackage(ByteView sector);

// Readies the XML reader before threads other than this one use it: it
// sets itself up on first use, which two threads must not do at once.
void PrepareOfficeReading();

// The kind of office document a checked ZIP archive holds: Word, Excel or
// PowerPoint by the main part its content types name, OpenDocument text by
// its first member "mimetype"; Other for every other archive.
DocumentKind OfficeKindOf(std::span<const std::uint8_t> archive, const std::vector<ZipMember>& members);

// Title, author and last-modified time from docProps/core.xml (or an
// OpenDocument's meta.xml).
struct OfficeProperties {
  std::string title;
  std::string author;
  std::optional<std::int64_t> lastSaved;  // seconds since 1970-01-01 UTC
};
OfficeProperties ReadOfficeProperties(std::span<const std::uint8_t> archive, const std::vector<ZipMember>& members);

// The start of the body text, a paragraph a line, at most characters long.
std::string OfficePreview(std::span<const std::uint8_t> archive, const std::vector<ZipMember>& members,
                          std::size_t characters);

}  // namespace vellumark
