#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace vellumark {

// The start of a Word 97-2003 document's main text, in UTF-8, read through
// its piece table (8-bit and UTF-16 pieces alike). Paragraph and cell marks
// become line breaks and field codes are left out, so that what remains
// reads as the document does. Empty when the streams do not hold a readable
// text (encrypted, an older Word, or damaged).
//
// With trusted, a character is read only where trusted(offset, size) holds
// for its bytes in wordDocument; the others (parts of a document that did
// not check) are left out, a line break standing where they were, so that
// what is read keeps its order and never joins words across the gap.
using TrustedBytes = std::function<bool(std::size_t offset, std::size_t size)>;
std::string WordText(std::span<const std::uint8_t> wordDocument, std::span<const std::uint8_t> table0,
                     std::span<const std::uint8_t> table1, std::size_t maxCharacters,
                     const TrustedBytes& trusted = {});

}  // namespace vellumark
