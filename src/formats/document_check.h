#pragma once

#include <cstdint>
#include <span>

#include "formats/verdict.h"

namespace vellumark {

// The verdict on a rebuilt compound file: its structure (chains, directory,
// Word's identifier) and then, for a Word document, the content that can be
// checked (stream lengths and text). "Whole" means both held.
StructureVerdict CheckDocument(std::span<const std::uint8_t> file);

}  // namespace vellumark
