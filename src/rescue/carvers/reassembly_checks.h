#pragma once

// The checks a compound file's own bookkeeping lets be made of one of its
// sectors alone: a FAT, DIFAT, mini FAT or directory sector, Word's FIB,
// its text through the piece table, and the tables that point into it.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/byte_view.h"
#include "formats/compound/compound_layout.h"

namespace vellumark::reassembly {

constexpr std::size_t kSector = compound::kSectorSize;
using compound::kDifatMark;
using compound::kEndOfChain;
using compound::kFatMark;
using compound::kFree;
constexpr std::uint32_t kHighestSector = 204'798;  // files up to 100 MiB, as the plain walk

inline bool IsSectorNumber(std::uint32_t value) { return value <= kHighestSector; }

enum class Role : std::uint8_t { Fat, Difat, MiniFat, Directory, Fib, Text, Rising, PageNumbers, FormattingPage, ClxStart };

// The FAT, DIFAT, mini FAT and directory: without them no stream can be
// found, so a cluster that fails their checks cannot stand for them even
// as a lost one.
inline bool IsBookkeeping(Role role) {
  return role == Role::Fat || role == Role::Difat || role == Role::Directory || role == Role::MiniFat;
}

// A check of one sector of the file. For Fat, first is the sector's index
// in the FAT (MiniFat, in the mini FAT); for Fib, the offset of the block
// in the sector; for Text, the sector's bytes [first, last) are characters of
// width bytes each; for Rising, they are 32-bit positions that never fall
// (a piece table's or a formatting table's); for FormattingPage, first is
// the most runs the page may hold; for PageNumbers, the bytes [first, last)
// are page numbers below limit; for ClxStart, a Clx starts at first whose
// piece table, when it comes first, is limit bytes long. Every range lies
// inside the sector.
struct Check {
  Role role;
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  std::uint8_t width = 1;
  std::uint32_t limit = 0;

  friend bool operator==(const Check&, const Check&) = default;
  friend auto operator<=>(const Check&, const Check&) = default;
};

// What the text checks ask of a sector's bytes, classified once: one bit a
// byte for each question, so that a check of any range of characters is a
// few masked words rather than a pass over the bytes.
class SectorText {
 public:
  explicit SectorText(ByteView sector);
  // Whether [first, last) holds characters of width bytes that Word writes
  // in text, and for UTF-16 is not 8-bit text with line feeds read as
  // UTF-16 (a text file's lines lying where the document's text should).
  bool Passes(std::uint32_t first, std::uint32_t last, std::uint8_t width) const;

 private:
  using Bits = std::array<std::uint64_t, kSector / 64>;
  static std::size_t Count(const Bits& bits, std::uint32_t first, std::uint32_t last, std::uint64_t mask);

  Bits badByte_{};      // a byte Word never writes as an 8-bit character
  Bits badUnit_{};      // a UTF-16 character starting here Word never writes
  Bits notPlain_{};     // a byte that is not printable ASCII, tab or line end
  Bits lineFeed_{};
};

// Whether the sector passes the check. fatSectors are the file's FAT
// sectors, whose own entries must carry their mark; text is the sector's
// classified text, needed for Text checks only.
bool Passes(ByteView sector, const Check& check, std::span<const std::uint32_t> fatSectors, const SectorText* text);

}  // namespace vellumark::reassembly
