#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "common/byte_view.h"

// What the readers of a Word document's main stream share: the FIB's marks
// and flags, and little-endian reads that never pass the end of a stream.
namespace vellumark::word_fib {

inline constexpr std::uint16_t kWord97Ident = 0xA5EC;
inline constexpr std::uint16_t kWord6Ident = 0xA5DC;
inline constexpr std::uint16_t kComplex = 0x0004;
inline constexpr std::uint16_t kEncrypted = 0x0100;
inline constexpr std::uint16_t kWhichTable = 0x0200;
inline constexpr std::uint16_t kExtendedCharacters = 0x1000;
// Word 6 writes 101 and Word 95 104; Word 97 and later write 193 or more.
inline constexpr std::uint16_t kOldestFib = 101;
inline constexpr std::uint16_t kNewestOldFib = 105;
// The wIdent of every Word that writes a FIB: Word 97 and later, Word 6 and
// 95, and the Far East editions of Word 95.
inline constexpr std::uint16_t kWordIdents[] = {0xA5EC, 0xA5DC, 0xA697, 0xA699, 0x8098, 0x8099};

inline bool IsWordIdent(std::uint16_t ident) {
  for (const std::uint16_t known : kWordIdents) {
    if (ident == known) return true;
  }
  return false;
}

// The one rule for which Word wrote a main stream: Word 6 and 95 write nFib
// 101 to 105, and their Far East editions do not always write Word 6's
// wIdent; everything else is Word 97 or later, whose text lies behind a
// piece table in the table stream.
inline bool IsOldWord(std::uint16_t ident, std::uint16_t nFib) {
  return ident == kWord6Ident || (nFib >= kOldestFib && nFib <= kNewestOldFib);
}

// Word 97 or later: the FIB's blocks and the piece table can be read.
inline bool IsWord97(std::uint16_t ident, std::uint16_t nFib) { return ident == kWord97Ident && !IsOldWord(ident, nFib); }

// The piece table's entry in FibRgFcLcb97 (fcClx, lcbClx), counted in pairs.
inline constexpr std::size_t kClxPair = 33;

// size bytes (one, two or four) at at, or none when they pass the end.
inline std::optional<std::uint32_t> Get(std::span<const std::uint8_t> b, std::size_t at, std::size_t size) {
  const ByteView view(b.data(), b.size());
  if (size == 1) return view.Byte(at);
  if (size == 2) return view.Le16(at);
  if (size == 4) return view.Le32(at);
  return std::nullopt;
}
inline std::uint32_t Get16(std::span<const std::uint8_t> b, std::size_t at) { return Get(b, at, 2).value_or(0); }
inline std::uint32_t Get32(std::span<const std::uint8_t> b, std::size_t at) { return Get(b, at, 4).value_or(0); }

// The PlcPcd inside a Clx: the grpprls of property modifiers (Prc) come
// first and are stepped over. None when the Clx does not hold together.
inline std::optional<std::span<const std::uint8_t>> PieceTable(std::span<const std::uint8_t> clx) {
  std::size_t at = 0;
  while (at < clx.size() && clx[at] == 0x01) {
    const auto size = Get(clx, at + 1, 2);
    if (!size) return std::nullopt;
    at += 3 + *size;
  }
  if (at >= clx.size() || clx[at] != 0x02) return std::nullopt;
  const auto size = Get(clx, at + 1, 4);
  if (!size || *size > clx.size() - at - 5) return std::nullopt;
  return clx.subspan(at + 5, *size);
}

}  // namespace vellumark::word_fib
