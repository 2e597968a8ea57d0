#include "formats/word/word_text.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "formats/word/word_fib.h"

namespace vellumark {
namespace {

using Bytes = std::span<const std::uint8_t>;

using namespace word_fib;
// Fields nest; deeper than this a damaged file is only pretending to.
constexpr std::size_t kDeepestField = 64;


// 0x80..0x9F of Windows-1252. Word writes 8-bit pieces only when every
// character fits this code page, so these bytes are typographic quotes,
// dashes and the like, not C1 controls. Zero marks the five unassigned ones.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t FromCp1252(std::uint8_t byte) {
  return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte;
}

char16_t Unit(Bytes word, std::size_t at, std::size_t width) {
  return width == 1 ? FromCp1252(word[at]) : static_cast<char16_t>(Get16(word, at));
}

// Turns characters of the document into readable text: marks the layout
// needs become line breaks or tabs, field codes are hidden behind their
// results, and anchors of pictures and notes disappear.
class TextBuilder {
 public:
  explicit TextBuilder(std::size_t maxCharacters) : left_(maxCharacters) {}
  // At the limit, an open field is still read to its end: should it never
  // end, what it held is read again as text (see Take).
  bool Full() const { return left_ == 0 && fields_.empty(); }

  // A field that never ends is not taken for one: a damaged document would
  // otherwise lose everything after its start, and a reading with stretches
  // left out, which cannot see a start that lay in one of them, would show
  // more than the whole reading. What came after its start is read again
  // as text, fields that did end inside it still hiding their codes.
  std::string Take() {
    while (!fields_.empty()) {
      std::vector<char32_t> held = std::move(held_);
      std::vector<bool> unended(held.size(), false);
      for (const Field& field : fields_) unended[field.heldAt] = true;
      Restore(atOutermost_);
      fields_.clear();
      held_.clear();
      for (std::size_t k = 0; k < held.size(); ++k) {
        if (!unended[k]) Add(held[k]);
      }
    }
    return std::move(text_);
  }

  // Characters were left out here, and with them perhaps the start of a
  // field. What follows is taken as text until a field's separator or end
  // shows up without its start: then what came since the first gap may have
  // been inside that field (its code, or text of a field around it whose
  // code hid it; the field may have begun in any gap) and is taken back.
  // A field open here may end in the gap or never: its result read so far
  // followed either its hidden code or its code shown as text, so it is
  // taken back too.
  void Gap() {
    if (!fields_.empty()) {
      text_.resize(atOutermost_.size);
      left_ = atOutermost_.left;
    }
    gap_ = true;
    high_ = 0;
    fields_.clear();
    held_.clear();
    if (afterGap_) return;
    sinceGap_ = text_.size();
    leftAtGap_ = left_;
    afterGap_ = true;
  }

  // One UTF-16 unit (or an 8-bit character already widened); surrogate
  // halves are paired here, across pieces too.
  void AddUnit(char16_t unit) {
    if (unit >= 0xDC00 && unit < 0xE000 && high_ != 0) {
      Add(0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (unit - 0xDC00u));
      high_ = 0;
      return;
    }
    if (high_ != 0) Add(0xFFFD), high_ = 0;
    if (unit >= 0xD800 && unit < 0xDC00) {
      high_ = unit;
      return;
    }
    Add(unit >= 0xDC00 && unit < 0xE000 ? 0xFFFD : unit);
  }

 private:
  void Add(char32_t c) {
    // While a field is open, what comes is held, to be read again should
    // the field never end.
    if (!fields_.empty()) held_.push_back(c);
    switch (c) {
      case 0x13:  // field begin: its code follows
        if (fields_.size() < kDeepestField) {
          if (fields_.empty()) {
            atOutermost_ = State{text_.size(), left_, gap_, afterGap_, sinceGap_, leftAtGap_};
            held_.push_back(c);
          }
          fields_.push_back({true, held_.size() - 1});
        }
        return;
      case 0x14:  // separator: the result follows
        if (!fields_.empty()) {
          fields_.back().inCode = false;
        } else if (afterGap_) {
          TakeBackToGap();
        }
        return;
      case 0x15:  // field end
        if (!fields_.empty()) {
          fields_.pop_back();
          if (fields_.empty()) held_.clear();
        } else if (afterGap_) {
          TakeBackToGap();
        }
        return;
      default: break;
    }
    for (const Field& field : fields_) {
      if (field.inCode) return;
    }
    switch (c) {
      case 0x0D: case 0x0B: case 0x0C: c = '\n'; break;  // paragraph, line, page or section break
      case 0x07: c = '\t'; break;                        // end of a table cell or row
      case 0x09: break;
      case 0x1E: c = '-'; break;  // non-breaking hyphen
      case 0xA0: c = ' '; break;  // non-breaking space
      default:
        if (c < 0x20) return;  // picture, drawing and note anchors, optional hyphens
    }
    Emit(c);
  }

  // What the reading had reached, to go back to.
  struct State {
    std::size_t size = 0, left = 0;
    bool gap = false, afterGap = false;
    std::size_t sinceGap = 0, leftAtGap = 0;
  };
  void Restore(const State& state) {
    text_.resize(state.size);
    left_ = state.left;
    gap_ = state.gap;
    afterGap_ = state.afterGap;
    sinceGap_ = state.sinceGap;
    leftAtGap_ = state.leftAtGap;
  }

  void TakeBackToGap() {
    text_.resize(sinceGap_);
    left_ = leftAtGap_;
    gap_ = true;
  }

  // The one place characters are counted against the limit, and cut there:
  // a single unit can give two characters (a lone high surrogate's
  // replacement, then the unit after it), so a check between units alone
  // would let the second one past the last place.
  void Emit(char32_t c) {
    if (left_ == 0) return;
    if (gap_) {
      gap_ = false;
      if (!text_.empty() && text_.back() != '\n') {
        text_ += '\n';
        if (--left_ == 0) return;
      }
    }
    if (c < 0x80) {
      text_ += static_cast<char>(c);
    } else if (c < 0x800) {
      text_ += static_cast<char>(0xC0 | (c >> 6));
      text_ += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      text_ += static_cast<char>(0xE0 | (c >> 12));
      text_ += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text_ += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text_ += static_cast<char>(0xF0 | (c >> 18));
      text_ += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      text_ += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text_ += static_cast<char>(0x80 | (c & 0x3F));
    }
    --left_;
  }

  std::string text_;
  std::size_t left_;
  char16_t high_ = 0;
  struct Field {
    bool inCode;         // still in its code, not yet in its result
    std::size_t heldAt;  // where its start lies in held_
  };
  std::vector<Field> fields_;   // the open ones, outermost first
  std::vector<char32_t> held_;  // what came since the outermost one began, its start first
  State atOutermost_;           // the reading as it was when that one began
  bool gap_ = false;          // characters were left out since the last one emitted
  bool afterGap_ = false;     // some were left out at all
  std::size_t sinceGap_ = 0;  // the text's size, and the characters left, at the first gap
  std::size_t leftAtGap_ = 0;
};

// Adds count characters of width bytes from at, those whose bytes are not
// trusted left out.
void AddRun(TextBuilder& text, Bytes word, std::size_t at, std::size_t count, std::size_t width,
            const TrustedBytes& trusted) {
  for (std::size_t k = 0; k < count && !text.Full(); ++k, at += width) {
    if (trusted && !trusted(at, width)) {
      text.Gap();
      continue;
    }
    text.AddUnit(Unit(word, at, width));
  }
}

// The first ccpText characters through the piece table held by the Clx at
// fcClx in stream. Pieces of Word 97 and later say each whether they are
// 8-bit (at half their offset) or UTF-16; those of Word 6 and 95 are all
// oldWidth bytes a character, at plain offsets.
std::string PieceText(Bytes word, Bytes stream, std::optional<std::uint32_t> fcClx,
                      std::optional<std::uint32_t> lcbClx, std::uint32_t ccpText, std::size_t oldWidth,
                      std::size_t maxCharacters, const TrustedBytes& trusted) {
  if (!fcClx || !lcbClx || *fcClx > stream.size() || *lcbClx > stream.size() - *fcClx) return {};
  const auto plc = PieceTable(stream.subspan(*fcClx, *lcbClx));
  if (!plc || plc->size() < 4 || (plc->size() - 4) % 12 != 0) return {};

  const std::size_t pieces = (plc->size() - 4) / 12;
  // Pieces of a sound document never share bytes, so it holds no more
  // characters than its stream has bytes; a damaged one that repeats a
  // piece over and over is cut off there.
  std::size_t budget = std::min<std::size_t>(ccpText, word.size());
  TextBuilder text(maxCharacters);
  for (std::size_t i = 0; i < pieces && budget > 0 && !text.Full(); ++i) {
    const std::uint32_t cpStart = Get32(*plc, 4 * i), cpEnd = Get32(*plc, 4 * i + 4);
    if (cpEnd <= cpStart || cpStart >= ccpText) break;  // out of order, or past the main text
    const std::size_t count = std::min<std::size_t>({cpEnd - cpStart, ccpText - cpStart, budget});
    const std::uint32_t fc = Get32(*plc, 4 * (pieces + 1) + 8 * i + 2);
    const bool compressed = (fc & 0x40000000u) != 0;
    const std::size_t offset = oldWidth != 0 ? fc : compressed ? (fc & 0x3FFFFFFFu) / 2 : fc & 0x3FFFFFFFu;
    const std::size_t width = oldWidth != 0 ? oldWidth : compressed ? 1 : 2;
    if (offset > word.size() || (word.size() - offset) / width < count) break;
    AddRun(text, word, offset, count, width, trusted);
    budget -= count;
  }
  return text.Take();
}

// Word 6 and 95: a document saved in one go is one run of text from fcMin;
// one saved quickly (complex) has its piece table in the same stream. The
// text is 8-bit, or UTF-16 where the FIB says it uses extended characters
// (as East Asian editions write).
std::string OldWordText(Bytes word, std::size_t maxCharacters, const TrustedBytes& trusted) {
  const std::uint32_t flags = Get16(word, 0x0A), ccpText = Get32(word, 0x34);
  const std::size_t width = (flags & kExtendedCharacters) != 0 ? 2 : 1;
  if ((flags & kComplex) != 0) {
    return PieceText(word, word, Get(word, 0x160, 4), Get(word, 0x164, 4), ccpText, width, maxCharacters, trusted);
  }
  const std::uint32_t fcMin = Get32(word, 0x18), fcMac = Get32(word, 0x1C);
  if (fcMin > word.size() || fcMac < fcMin) return {};
  const std::size_t count = std::min<std::size_t>({(fcMac - fcMin) / width, ccpText, (word.size() - fcMin) / width});
  TextBuilder text(maxCharacters);
  AddRun(text, word, fcMin, count, width, trusted);
  return text.Take();
}

}  // namespace

std::string WordText(Bytes wordDocument, Bytes table0, Bytes table1, std::size_t maxCharacters,
                     const TrustedBytes& trusted) {
  const std::uint32_t ident = Get16(wordDocument, 0), nFib = Get16(wordDocument, 2);
  const std::uint32_t flags = Get16(wordDocument, 0x0A);
  if ((flags & kEncrypted) != 0) return {};
  if (IsOldWord(static_cast<std::uint16_t>(ident), static_cast<std::uint16_t>(nFib))) {
    return OldWordText(wordDocument, maxCharacters, trusted);
  }
  if (ident != kWord97Ident) return {};

  // Each block of the FIB says its own length, so walk them rather than trust fixed offsets.
  std::size_t at = 0x20;
  at += 2 + 2 * std::size_t{Get16(wordDocument, at)};  // csw, fibRgW
  const std::uint32_t cslw = Get16(wordDocument, at);
  if (cslw < 4) return {};
  const std::uint32_t ccpText = Get32(wordDocument, at + 2 + 3 * 4);
  at += 2 + 4 * std::size_t{cslw};  // cslw, fibRgLw
  if (Get16(wordDocument, at) <= kClxPair) return {};
  const std::size_t clxAt = at + 2 + 8 * kClxPair;
  const Bytes table = (flags & kWhichTable) != 0 ? table1 : table0;
  return PieceText(wordDocument, table, Get(wordDocument, clxAt, 4), Get(wordDocument, clxAt + 4, 4), ccpText,
                   0, maxCharacters, trusted);
}

}  // namespace vellumark
