#include "formats/word/word_content_check.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "formats/word/word_fib.h"

namespace vellumark {
namespace {

using Bytes = std::span<const std::uint8_t>;

using namespace word_fib;
// The tables of character and paragraph formatting pages (PlcfBteChpx, PlcfBtePapx).
constexpr std::size_t kChpxPair = 12;
constexpr std::size_t kPapxPair = 13;
// Writers leave the pairs from this one on (the 97 block's last few and the
// blocks of later versions) with values that need not lie inside the table
// stream, so only the pairs before it are held to it.
constexpr std::size_t kCheckedPairs = 87;


}  // namespace

// Characters below 0x20 that Word's text holds: anchors of pictures, notes
// and drawings (1, 2, 5, 8), note separators (3, 4), cell and row ends (7),
// tab, line, page, section and column breaks (9, 0x0B-0x0E), field marks
// (0x13-0x15), hyphens (0x1E, 0x1F), and a rare NUL. LF (0x0A) is never
// one of them: a text file's line ends are the surest sign of a foreign
// sector inside a text range.
bool IsWordTextCharacter(std::uint32_t c) {
  if (c >= 0x20) return true;
  constexpr std::uint32_t kAllowed = (1u << 0x00) | (1u << 0x01) | (1u << 0x02) | (1u << 0x03) | (1u << 0x04) |
                                     (1u << 0x05) | (1u << 0x07) | (1u << 0x08) | (1u << 0x09) | (1u << 0x0B) |
                                     (1u << 0x0C) | (1u << 0x0D) | (1u << 0x0E) | (1u << 0x13) | (1u << 0x14) |
                                     (1u << 0x15) | (1u << 0x1E) | (1u << 0x1F);
  return ((kAllowed >> c) & 1u) != 0;
}

bool IsEightBitTextInUtf16(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < 64) return false;  // too little to tell
  std::size_t plain = 0;
  bool lineFeed = false;
  for (const std::uint8_t b : bytes) {
    lineFeed |= b == 0x0A;
    plain += (b >= 0x20 && b < 0x7F) || b == 0x09 || b == 0x0A || b == 0x0D ? 1 : 0;
  }
  return lineFeed && plain * 100 >= bytes.size() * 95;
}

namespace {

std::string CharacterFault(std::uint32_t c, std::size_t offset) {
  return std::string("WordDocument: text holds ") + (c == 0x0A ? "a line feed" : "a control character " + std::to_string(c)) +
         " at byte " + std::to_string(offset);
}

// count characters of width bytes from offset: inside the stream, and each a
// character Word writes.
std::string RangeFault(Bytes word, std::size_t offset, std::size_t count, std::size_t width) {
  if (offset > word.size() || (word.size() - offset) / width < count)
    return "WordDocument: a text piece lies past the stream's end";
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = offset + k * width;
    const std::uint32_t c = width == 1 ? word[at] : Get16(word, at);
    if (!IsWordTextCharacter(c)) return CharacterFault(c, at);
  }
  // A foreign sector is a whole one: UTF-16 text is looked at sector by sector.
  const std::size_t end = offset + count * width;
  for (std::size_t at = offset; width == 2 && at < end;) {
    const std::size_t stop = std::min(end, (at / 512 + 1) * 512);
    if (IsEightBitTextInUtf16(word.subspan(at, stop - at)))
      return "WordDocument: 8-bit text with line feeds in UTF-16 text at byte " + std::to_string(at);
    at = stop;
  }
  return {};
}

// Every piece: character positions ascending from 0, its bytes inside the
// stream and each character one Word writes.
std::string PiecesFault(Bytes word, Bytes stream, std::uint32_t fcClx, std::uint32_t lcbClx, std::size_t oldWidth) {
  if (fcClx > stream.size() || lcbClx > stream.size() - fcClx) return "piece table: lies past its stream's end";
  const auto plc = PieceTable(stream.subspan(fcClx, lcbClx));
  if (!plc || plc->size() < 4 || (plc->size() - 4) % 12 != 0) return "piece table: not a piece table";
  const std::size_t pieces = (plc->size() - 4) / 12;
  if (Get32(*plc, 0) != 0) return "piece table: does not start at the first character";
  for (std::size_t i = 0; i < pieces; ++i) {
    const std::uint32_t cpStart = Get32(*plc, 4 * i), cpEnd = Get32(*plc, 4 * i + 4);
    if (cpEnd <= cpStart) return "piece table: character positions out of order";
    const std::uint32_t fc = Get32(*plc, 4 * (pieces + 1) + 8 * i + 2);
    const bool compressed = (fc & 0x40000000u) != 0;
    const std::size_t offset = oldWidth != 0 ? fc : compressed ? (fc & 0x3FFFFFFFu) / 2 : fc & 0x3FFFFFFFu;
    const std::size_t width = oldWidth != 0 ? oldWidth : compressed ? 1 : 2;
    if (std::string fault = RangeFault(word, offset, cpEnd - cpStart, width); !fault.empty()) return fault;
  }
  return {};
}

bool Rising(Bytes b, std::size_t at, std::size_t count) {
  for (std::size_t i = 0; i + 1 < count; ++i) {
    if (Get32(b, at + 4 * i + 4) < Get32(b, at + 4 * i)) return false;
  }
  return true;
}

// The table of the pages of character (or paragraph) formatting: its file
// positions rising, and each page it names inside WordDocument with a run
// count in its last byte no larger than such a page holds and its runs'
// positions rising.
std::string FormattingFault(Bytes word, Bytes table, const char* tableName, std::uint32_t fc, std::uint32_t lcb,
                            std::uint32_t mostRuns) {
  if (lcb == 0) return {};
  if (lcb < 12 || (lcb - 4) % 8 != 0 || !Rising(table, fc, (lcb - 4) / 8 + 1))
    return std::string(tableName) + ": a formatting table is not one";
  const std::size_t count = (lcb - 4) / 8;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t page = Get32(table, fc + 4 * (count + 1) + 4 * i) & 0x3FFFFF;
    const std::size_t at = page * 512;
    const std::string fault = "WordDocument: formatting page " + std::to_string(page);
    if (at + 512 > word.size()) return fault + " lies past the stream's end";
    const std::uint32_t runs = word[at + 511];
    if (runs == 0 || runs > mostRuns || !Rising(word, at, runs + 1)) return fault + " is not one";
  }
  return {};
}

std::string OldWordFault(Bytes word) {
  const std::uint32_t flags = Get16(word, 0x0A);
  const std::size_t width = (flags & kExtendedCharacters) != 0 ? 2 : 1;
  if ((flags & kComplex) != 0) return PiecesFault(word, word, Get32(word, 0x160), Get32(word, 0x164), width);
  const std::uint32_t fcMin = Get32(word, 0x18), fcMac = Get32(word, 0x1C);
  if (fcMac < fcMin || fcMac > word.size()) return "WordDocument: text runs past the stream's end";
  return RangeFault(word, fcMin, (fcMac - fcMin) / width, width);
}

}  // namespace

std::string WordContentFault(Bytes word, Bytes table0, Bytes table1) {
  const std::uint32_t ident = Get16(word, 0), nFib = Get16(word, 2), flags = Get16(word, 0x0A);
  if ((flags & kEncrypted) != 0) return {};
  if (IsOldWord(static_cast<std::uint16_t>(ident), static_cast<std::uint16_t>(nFib))) return OldWordFault(word);
  if (ident != kWord97Ident) return {};

  std::size_t at = 0x20;
  at += 2 + 2 * std::size_t{Get16(word, at)};
  const std::uint32_t cslw = Get16(word, at);
  if (cslw < 4) return "WordDocument: file-information block too short";
  const std::uint32_t cbMac = Get32(word, at + 2);
  if (cbMac > word.size()) return "WordDocument: the file-information block counts more bytes than the stream holds";
  at += 2 + 4 * std::size_t{cslw};
  const std::size_t pairs = Get16(word, at);
  if (pairs <= kClxPair) return "WordDocument: file-information block too short";
  const Bytes table = (flags & kWhichTable) != 0 ? table1 : table0;
  const char* tableName = (flags & kWhichTable) != 0 ? "1Table" : "0Table";
  for (std::size_t i = 0; i < std::min(pairs, kCheckedPairs); ++i) {
    const std::uint32_t fc = Get32(word, at + 2 + 8 * i), lcb = Get32(word, at + 6 + 8 * i);
    if (lcb != 0 && (fc > table.size() || lcb > table.size() - fc))
      return std::string(tableName) + ": shorter than the file-information block says";
  }
  // Character formatting pages hold at most 0x65 runs, paragraph ones 0x1D.
  for (const auto& [pair, mostRuns] : {std::pair{kChpxPair, 0x65u}, std::pair{kPapxPair, 0x1Du}}) {
    std::string fault = FormattingFault(word, table, tableName, Get32(word, at + 2 + 8 * pair),
                                        Get32(word, at + 6 + 8 * pair), mostRuns);
    if (!fault.empty()) return fault;
  }
  return PiecesFault(word, table, Get32(word, at + 2 + 8 * kClxPair), Get32(word, at + 6 + 8 * kClxPair), 0);
}

}  // namespace vellumark
