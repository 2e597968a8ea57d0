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

// How a version of Word lays out its formatting pages and the tables that
// name them: the bytes of a page number in the table, and the bytes a run
// takes in a page after the runs' positions (one for characters; for
// paragraphs the offset and the paragraph's height, 13 bytes in Word 97,
// 7 in Word 6 and 95, where a paragraph's properties count whole words).
struct PageLayout {
  std::size_t pageNumberBytes;
  std::size_t entryBytes;
  bool paragraphs;
  bool wholeWords;
};
constexpr PageLayout kCharacterPages97{4, 1, false, false};
constexpr PageLayout kParagraphPages97{4, 13, true, false};
constexpr PageLayout kCharacterPages6{2, 1, false, false};
constexpr PageLayout kParagraphPages6{2, 7, true, true};
// Word 6's FIB holds the tables' places at these offsets (fc, then lcb).
constexpr std::size_t kCharacterTable6 = 0xB8;
constexpr std::size_t kParagraphTable6 = 0xC0;
constexpr std::size_t kFirstPair6 = 0x58;
constexpr std::size_t kPageCount = 511;  // the run count is the page's last byte

// Each run's properties, where it has any, lie in the page after the
// tables of its runs and end before the count in its last byte: the
// offset (in two-byte words) in each run's entry points there, and the
// length the properties start with keeps them there.
bool PropertiesInPage(Bytes page, std::uint32_t runs, const PageLayout& layout) {
  const std::size_t entries = 4 * (std::size_t{runs} + 1);
  const std::size_t tablesEnd = entries + runs * layout.entryBytes;
  if (tablesEnd > kPageCount) return false;
  for (std::size_t i = 0; i < runs; ++i) {
    const std::size_t offset = 2 * std::size_t{page[entries + i * layout.entryBytes]};
    if (offset == 0) continue;
    if (offset < tablesEnd || offset >= kPageCount) return false;
    std::size_t length = page[offset];
    std::size_t start = offset + 1;
    if (layout.wholeWords) {
      length *= 2;
    } else if (layout.paragraphs) {
      // A paragraph's length counts words: 2 * cb - 1 bytes, or a second
      // byte of words when the first is 0.
      if (length == 0) {
        if (start >= kPageCount) return false;
        length = 2 * std::size_t{page[start]};
        ++start;
      } else {
        length = 2 * length - 1;
      }
    }
    if (start + length > kPageCount) return false;
  }
  return true;
}

// The table of the pages of character (or paragraph) formatting: its file
// positions rising, and each page it names inside WordDocument with a run
// count in its last byte no larger than such a page holds, its runs'
// positions rising and each run's properties inside the page.
std::string FormattingFault(Bytes word, Bytes table, const char* tableName, std::uint32_t fc, std::uint32_t lcb,
                            const PageLayout& layout) {
  if (lcb == 0) return {};
  const std::size_t entry = 4 + layout.pageNumberBytes;
  if (lcb < 4 + entry || (lcb - 4) % entry != 0 || !Rising(table, fc, (lcb - 4) / entry + 1))
    return std::string(tableName) + ": a formatting table is not one";
  const std::size_t count = (lcb - 4) / entry;
  const std::uint32_t mostRuns = static_cast<std::uint32_t>((kPageCount - 4) / (4 + layout.entryBytes));
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t pageNumberAt = fc + 4 * (count + 1) + layout.pageNumberBytes * i;
    const std::size_t page =
        (layout.pageNumberBytes == 4 ? Get32(table, pageNumberAt) : Get16(table, pageNumberAt)) & 0x3FFFFF;
    const std::size_t at = page * 512;
    const std::string fault = "WordDocument: formatting page " + std::to_string(page);
    if (at + 512 > word.size()) return fault + " lies past the stream's end";
    const std::uint32_t runs = word[at + kPageCount];
    if (runs == 0 || runs > mostRuns || !Rising(word, at, runs + 1) ||
        !PropertiesInPage(word.subspan(at, 512), runs, layout))
      return fault + " is not one";
  }
  return {};
}

// The string tables the FIB points at (glossary names, bookmark names,
// macro names, associated strings: pairs 9, 21, 26 and 32) fill exactly the
// bytes it gives them. Word 97 writes them extended (a 0xFFFF mark, the
// count of strings and the bytes of extra data each carries, then each
// string's length in UTF-16 units, its units and its extra data) or as
// Word 6 does: the table's own length, then strings of a length byte and
// that many bytes. Bytes past the strings are zeros.
constexpr std::size_t kStringTablePairs[] = {9, 21, 26, 32};

bool StringTableFills(Bytes table, std::uint32_t fc, std::uint32_t lcb) {
  if (fc > table.size() || lcb > table.size() - fc || lcb < 2) return false;
  const Bytes sttb = table.subspan(fc, lcb);
  std::size_t at = 0;
  if (Get16(sttb, 0) == 0xFFFF) {
    if (lcb < 6) return false;
    const std::size_t count = Get16(sttb, 2), extra = Get16(sttb, 4);
    at = 6;
    for (std::size_t i = 0; i < count && at <= lcb; ++i) {
      if (at + 2 > lcb) return false;
      at += 2 + 2 * std::size_t{Get16(sttb, at)} + extra;
    }
  } else {
    const std::size_t length = Get16(sttb, 0);
    if (length < 2 || length > lcb) return false;
    for (at = 2; at < length;) at += 1 + std::size_t{sttb[at]};
    if (at != length) return false;
  }
  // Some writers give the table more bytes than its strings take: zeros.
  return at <= lcb && std::all_of(sttb.begin() + at, sttb.end(), [](std::uint8_t b) { return b == 0; });
}

std::string StringTablesFault(Bytes fib, std::size_t firstPair, Bytes table, const char* tableName) {
  for (const std::size_t pair : kStringTablePairs) {
    const std::uint32_t fc = Get32(fib, firstPair + 8 * pair), lcb = Get32(fib, firstPair + 8 * pair + 4);
    if (lcb != 0 && !StringTableFills(table, fc, lcb))
      return std::string(tableName) + ": the string table of pair " + std::to_string(pair) + " is not one";
  }
  return {};
}

// The sections' properties: the table of sections (pair 6) gives, for
// each, where in WordDocument its properties lie (or 0xFFFFFFFF for none):
// a length and that many bytes of section property modifiers, each of
// which Word marks as one of a section and whose operand's size its code
// gives, filling the length exactly.
constexpr std::size_t kSectionsPair = 6;
constexpr std::size_t kSectionEntry = 12;
constexpr std::uint32_t kNoProperties = 0xFFFFFFFF;
constexpr std::uint32_t kSectionModifiers = 4;

// The bytes a property modifier's operand takes, from its code's size
// class; for the variable class the byte after the code counts them.
std::optional<std::size_t> OperandBytes(Bytes grpprl, std::size_t at, std::uint32_t code) {
  switch (code >> 13) {
    case 0: case 1: return 1;
    case 2: case 4: case 5: return 2;
    case 3: return 4;
    case 7: return 3;
    default:
      if (at + 2 >= grpprl.size()) return std::nullopt;
      return 1 + std::size_t{grpprl[at + 2]};
  }
}

std::string SectionsFault(Bytes word, Bytes table, std::uint32_t fc, std::uint32_t lcb) {
  if (lcb == 0) return {};
  if (lcb < 4 + 4 + kSectionEntry || (lcb - 4) % (4 + kSectionEntry) != 0) return "the table of sections is not one";
  const std::size_t count = (lcb - 4) / (4 + kSectionEntry);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t at = Get32(table, fc + 4 * (count + 1) + kSectionEntry * i + 2);
    if (at == kNoProperties) continue;
    const std::string fault = "WordDocument: the properties of section " + std::to_string(i + 1);
    const std::size_t length = at + 2 <= word.size() ? Get16(word, at) : 0;
    if (length == 0 || length > word.size() - at - 2) return fault + " lie outside the stream";
    const Bytes grpprl = word.subspan(at + 2, length);
    std::size_t used = 0;
    while (used + 2 <= length) {
      const std::uint32_t code = Get16(grpprl, used);
      const auto operand = OperandBytes(grpprl, used, code);
      if (((code >> 10) & 7) != kSectionModifiers || !operand) return fault + " are not section properties";
      used += 2 + *operand;
    }
    if (used != length) return fault + " do not fill their length";
  }
  return {};
}

std::string OldWordFault(Bytes word) {
  const std::uint32_t flags = Get16(word, 0x0A);
  const std::size_t width = (flags & kExtendedCharacters) != 0 ? 2 : 1;
  std::string fault;
  if ((flags & kComplex) != 0) {
    fault = PiecesFault(word, word, Get32(word, 0x160), Get32(word, 0x164), width);
  } else {
    const std::uint32_t fcMin = Get32(word, 0x18), fcMac = Get32(word, 0x1C);
    if (fcMac < fcMin || fcMac > word.size()) return "WordDocument: text runs past the stream's end";
    fault = RangeFault(word, fcMin, (fcMac - fcMin) / width, width);
  }
  // Word 6 and 95 keep the tables of formatting pages in the main stream.
  for (const auto& [tableAt, layout] :
       {std::pair{kCharacterTable6, kCharacterPages6}, std::pair{kParagraphTable6, kParagraphPages6}}) {
    if (!fault.empty()) break;
    fault = FormattingFault(word, word, "WordDocument", Get32(word, tableAt), Get32(word, tableAt + 4), layout);
  }
  if (fault.empty()) fault = StringTablesFault(word, kFirstPair6, word, "WordDocument");
  return fault;
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
  // Past the bytes the block counts, Word pads the stream with zeros (to
  // keep it out of the mini stream).
  if (std::any_of(word.begin() + cbMac, word.end(), [](std::uint8_t b) { return b != 0; }))
    return "WordDocument: bytes past the end the file-information block gives";
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
  for (const auto& [pair, layout] : {std::pair{kChpxPair, kCharacterPages97}, std::pair{kPapxPair, kParagraphPages97}}) {
    std::string fault = FormattingFault(word, table, tableName, Get32(word, at + 2 + 8 * pair),
                                        Get32(word, at + 6 + 8 * pair), layout);
    if (!fault.empty()) return fault;
  }
  if (std::string fault = StringTablesFault(word, at + 2, table, tableName); !fault.empty()) return fault;
  if (std::string fault = SectionsFault(word, table, Get32(word, at + 2 + 8 * kSectionsPair),
                                        Get32(word, at + 6 + 8 * kSectionsPair));
      !fault.empty())
    return fault;
  return PiecesFault(word, table, Get32(word, at + 2 + 8 * kClxPair), Get32(word, at + 6 + 8 * kClxPair), 0);
}

}  // namespace vellumark
