#pragma once

#include <cstdint>
#include <span>

#include "formats/verdict.h"

namespace vellumark {

// Reads a rebuilt compound file's own bookkeeping and says whether it holds
// together: every chain of sectors (FAT, mini FAT, directory, each stream)
// stays inside the file, ends with the end-of-chain mark and shares no
// sector with another chain; a Word document's main stream starts with the
// identifier of its file-information block. A sector that came from another
// file usually breaks one of these, and the fault names where.
StructureVerdict CheckStructure(std::span<const std::uint8_t> file);

}  // namespace vellumark
