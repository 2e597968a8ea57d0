#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace vellumark {

// The start of a Word 97-2003 document's main text, in UTF-8, read through
// its piece table (8-bit and UTF-16 pieces alike). Paragraph and cell marks
// become line breaks and field codes are left out, so that what remains
// reads as the document does. Empty when the streams do not hold a readable
// text (encrypted, an older Word, or damaged).
std::string WordText(std::span<const std::uint8_t> wordDocument, std::span<const std::uint8_t> table0,
                     std::span<const std::uint8_t> table1, std::size_t maxCharacters);

}  // namespace vellumark
