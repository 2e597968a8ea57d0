#pragma once

#include <cstdint>
#include <span>

#include "formats/compound/structure_check.h"
#include "formats/verdict.h"

namespace vellumark {

// The verdict on a rebuilt compound file: its structure (chains, directory,
// Word's identifier) and then, for a Word document, the content that can be
// checked (stream lengths and text). "Whole" here means both held: nothing
// found is wrong, which is not yet that every sector is the document's own
// (see sector_vouching.h).
StructureVerdict CheckDocument(std::span<const std::uint8_t> file);

// The verdict the report gives, with the sectors the file's bookkeeping
// pins: CompObj and the property sets are checked too.
StructureCoverage CheckDocumentCoverage(std::span<const std::uint8_t> file);

}  // namespace vellumark
