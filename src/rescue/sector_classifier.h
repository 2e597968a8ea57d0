#pragma once

#include <cstddef>
#include <cstdint>

#include "rescue/file_type_code.h"

namespace vellumark {

inline constexpr std::size_t kClassifiedBytes = 512;

// Decides from one sector's bytes whether a file of a known type begins there
// (or the sector looks like a FAT directory). Looks at no more than the first
// 512 bytes; a shorter buffer reads as if padded with zeros. No allocation, no
// state: it runs once for every sector of a disk.
FileTypeCode ClassifySector(const std::uint8_t* sector, std::size_t size);

// Whether the code is of a document's first sector: a compound document or a
// ZIP archive (office packages are ZIP archives).
inline bool IsDocumentHeaderCode(FileTypeCode code) {
  return code == code::kCompoundDocument || code == code::kZip;
}

// ClassifySector for a sector off the cluster grid: only a document's
// header counts there (kNone for anything else). A document is worth a look
// wherever it starts, while other formats' far weaker signatures would only
// add false starts; the first byte rules out nearly every sector at once.
inline FileTypeCode ClassifyDocumentHeader(const std::uint8_t* sector, std::size_t size) {
  if (size < 4 || (sector[0] != 0xD0 && sector[0] != 'P')) return code::kNone;
  const FileTypeCode code = ClassifySector(sector, size);
  return IsDocumentHeaderCode(code) ? code : code::kNone;
}

// Whether a byte may stand in a short (8.3) directory-entry name.
bool IsNameChar(std::uint8_t byte);

// The FAT directory test on its own: 16 entries of 32 bytes.
bool LooksLikeFatDirectory(const std::uint8_t* sector);

}  // namespace vellumark
