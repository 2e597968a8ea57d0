#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace vellumark {

// Whether a character (an 8-bit byte or a UTF-16 unit) is one Word's text
// may hold: any printable one, and of the controls only the marks Word uses.
bool IsWordTextCharacter(std::uint32_t c);

// Whether bytes that should hold UTF-16 text (at most a sector's) hold
// 8-bit text with line feeds instead, as a text file, a web page or source
// code does: read two bytes a character such text passes for Chinese, so
// the characters alone do not give it away. Word's UTF-16 text always has
// bytes outside printable ASCII (the high bytes of Latin letters are zero,
// those of other scripts rarely fall in it twice in a row).
bool IsEightBitTextInUtf16(std::span<const std::uint8_t> bytes);

// Checks what can be checked of a Word document's bytes beyond its chains:
// the lengths its file-information block gives against the streams the
// directory holds, and the text its piece table (or, in Word 6 and 95, its
// one text run) points at: paragraphs end with CR, never LF, and no piece
// holds control characters Word never writes. A sector of another file
// stitched into a stream breaks these far more often than it breaks a chain.
// Returns the first fault, or nothing when the content holds or is not a
// Word document this can read (encrypted, unknown version).
std::string WordContentFault(std::span<const std::uint8_t> wordDocument, std::span<const std::uint8_t> table0,
                             std::span<const std::uint8_t> table1);

}  // namespace vellumark
