#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "formats/verdict.h"

namespace vellumark {

// Reads a rebuilt compound file's own bookkeeping and says whether it holds
// together: every chain of sectors (FAT, mini FAT, directory, each stream)
// stays inside the file, ends with the end-of-chain mark and shares no
// sector with another chain; a Word document's main stream starts with the
// identifier of its file-information block. A sector that came from another
// file usually breaks one of these, and the fault names where.
StructureVerdict CheckStructure(std::span<const std::uint8_t> file);

// The verdict, and for a file that holds together which of its 512-byte
// sectors (0 is the header, k + 1 the file's sector k) its bookkeeping pins
// byte for byte: the header and the FAT, DIFAT and mini FAT sectors, when
// every field and entry of them is what the walk found or what the format
// fixes. A change to any byte of a pinned sector is a fault or unpins it.
// Streams' sectors are never pinned: their bytes are the document's own.
struct StructureCoverage {
  StructureVerdict verdict;
  std::vector<bool> pinned;
};
StructureCoverage CheckStructureCoverage(std::span<const std::uint8_t> file);

}  // namespace vellumark
