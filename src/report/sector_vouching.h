#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rescue/document_record.h"
#include "formats/verdict.h"

namespace vellumark {

// Bytes first to last of a file, both included.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;

  friend bool operator==(const ByteRange&, const ByteRange&) = default;
};

// Whether each sector of a rebuilt compound file is the document's own.
// Checks that find nothing wrong do not show that: a sector of text from
// another document, or one byte changed in this one, passes every check of
// text. So a sector counts as vouched for only when the file's bookkeeping
// pins every byte of it (the header, the FAT, DIFAT and mini FAT), or when
// it came from the same run of source sectors, without a gap, as a sector
// that is. The verdict is then "whole" when every sector is vouched for,
// "whole structure" with the ranges of bytes that are not, or "damaged"
// with the first fault the checks found.
struct SectorVouching {
  StructureVerdict verdict;
  std::size_t unverifiedSectors = 0;
  std::vector<ByteRange> unverified;  // ascending, each a run of whole sectors (the last may be short)
};

// runs are the source sectors, of bytesPerSector bytes each, the file's
// bytes were read from, in order; with none known every sector stands alone.
SectorVouching VouchSectors(std::span<const std::uint8_t> file, const std::vector<SectorRun>& runs,
                            std::int64_t bytesPerSector);

// The ranges as the report writes them: "8704-9215 12288-12799".
std::string ByteRangesText(const std::vector<ByteRange>& ranges);

}  // namespace vellumark
