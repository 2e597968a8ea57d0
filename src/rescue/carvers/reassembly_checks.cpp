#include "rescue/carvers/reassembly_checks.h"

#include <algorithm>
#include <bit>
#include <iterator>

#include "formats/word/word_content_check.h"
#include "formats/word/word_fib.h"

namespace vellumark::reassembly {
namespace {


std::uint32_t Le32At(ByteView sector, std::size_t at) { return sector.Le32(at).value_or(kFree); }

// Every entry free, a mark, or the number of a sector no other entry of
// the sector also points to; the FAT's own sectors carry their mark. The
// mini FAT is the same table over the mini stream's blocks, without marks.
bool PassTable(ByteView sector, std::uint32_t index, bool marks, std::span<const std::uint32_t> fatSectors) {
  std::array<std::uint32_t, compound::kWordsPerSector> targets{};
  std::size_t used = 0;
  for (std::uint32_t k = 0; k < compound::kWordsPerSector; ++k) {
    const std::uint32_t entry = Le32At(sector, 4 * k);
    if (entry == kFree || entry == kEndOfChain || entry == kFatMark || entry == kDifatMark) continue;
    if (!IsSectorNumber(entry) || entry == index * compound::kWordsPerSector + k) return false;
    targets[used++] = entry;
  }
  const auto end = targets.begin() + static_cast<std::ptrdiff_t>(used);
  std::sort(targets.begin(), end);
  if (std::adjacent_find(targets.begin(), end) != end) return false;
  for (const std::uint32_t fatSector : fatSectors) {
    if (!marks || fatSector / compound::kWordsPerSector != index) continue;
    const std::uint32_t mark = Le32At(sector, 4 * (fatSector % compound::kWordsPerSector));
    if (mark != kFatMark && mark != kEndOfChain) return false;
  }
  return true;
}

bool PassDifat(ByteView sector) {
  for (std::size_t k = 0; k < compound::kWordsPerSector; ++k) {
    const std::uint32_t entry = Le32At(sector, 4 * k);
    if (entry != kFree && entry != kEndOfChain && !IsSectorNumber(entry)) return false;
  }
  return true;
}

// Four entries, each unused or with a name length, type, colour and links
// a directory can have; at least one in use.
bool PassDirectory(ByteView sector) {
  bool any = false;
  namespace entry_at = compound::entry;
  for (std::size_t at = 0; at < kSector; at += entry_at::kSize) {
    const auto entry = sector.Bytes(at, entry_at::kSize);
    if (!entry) return false;
    const std::uint16_t nameBytes = entry->Le16(entry_at::kNameBytes).value_or(0);
    const std::uint8_t type = entry->Byte(entry_at::kType).value_or(0);
    if (type == entry_at::kUnused) {
      if (nameBytes > entry_at::kLongestName) return false;
      continue;
    }
    if (type != entry_at::kStorage && type != entry_at::kStream && type != entry_at::kRoot) return false;
    // The byte after the type is the red-black tree's colour: red or black.
    if (nameBytes < 2 || nameBytes > entry_at::kLongestName || nameBytes % 2 != 0 ||
        entry->Byte(entry_at::kType + 1).value_or(0) > 1)
      return false;
    for (const std::size_t link : {entry_at::kLeftSibling, entry_at::kRightSibling, entry_at::kChild}) {
      const std::uint32_t value = Le32At(*entry, link);
      if (value != kFree && value > 0xFFFF) return false;
    }
    any = true;
  }
  return any;
}

bool PassFib(ByteView sector, std::uint32_t at) {
  const auto ident = sector.Le16(at);
  if (!ident || !word_fib::IsWordIdent(*ident)) return false;
  return *ident != word_fib::kWord97Ident || sector.Le16(at + 2).value_or(0) >= word_fib::kOldestFib;
}

bool PassRising(ByteView sector, std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t at = first; at + 8 <= last; at += 4) {
    const auto low = sector.Le32(at), high = sector.Le32(at + 4);
    if (!low || !high || *high < *low) return false;
  }
  return true;
}

// A page of character or paragraph formatting: its run count in its last
// byte, and the file positions of its runs rising from its start.
bool PassFormattingPage(ByteView sector, std::uint32_t mostRuns) {
  const std::uint32_t runs = sector.Byte(kSector - 1).value_or(0);
  if (runs == 0 || runs > mostRuns) return false;
  return PassRising(sector, 0, 4 * (runs + 1));
}

bool PassPageNumbers(ByteView sector, const Check& check) {
  for (std::uint32_t at = check.first; at + 4 <= check.last; at += 4) {
    const auto page = sector.Le32(at);
    if (!page || (*page & 0x3FFFFF) >= check.limit) return false;
  }
  return true;
}

bool PassClxStart(ByteView sector, const Check& check) {
  const auto kind = sector.Byte(check.first);
  if (kind == 0x01) return true;
  if (kind != 0x02) return false;
  return check.first + 5 > kSector || sector.Le32(check.first + 1) == check.limit;
}

}  // namespace

SectorText::SectorText(ByteView sector) {
  const auto set = [](Bits& bits, std::size_t at) { bits[at / 64] |= std::uint64_t{1} << (at % 64); };
  for (std::size_t at = 0; at < std::min(sector.Size(), kSector); ++at) {
    const std::uint8_t b = sector.Data()[at];
    if (!IsWordTextCharacter(b)) {
      set(badByte_, at);
      if (sector.Byte(at + 1) == 0) set(badUnit_, at);
    }
    if (!((b >= 0x20 && b < 0x7F) || b == 0x09 || b == 0x0A || b == 0x0D)) set(notPlain_, at);
    if (b == 0x0A) set(lineFeed_, at);
  }
}

std::size_t SectorText::Count(const Bits& bits, std::uint32_t first, std::uint32_t last, std::uint64_t mask) {
  std::size_t count = 0;
  last = std::min<std::uint32_t>(last, kSector);
  for (std::uint32_t word = first / 64; first < last && word <= (last - 1) / 64; ++word) {
    std::uint64_t value = bits[word] & mask;
    if (word == first / 64) value &= ~std::uint64_t{0} << (first % 64);
    if (word == (last - 1) / 64 && last % 64 != 0) value &= ~(~std::uint64_t{0} << (last % 64));
    count += static_cast<std::size_t>(std::popcount(value));
  }
  return count;
}

bool SectorText::Passes(std::uint32_t first, std::uint32_t last, std::uint8_t width) const {
  constexpr std::uint64_t kAll = ~std::uint64_t{0};
  constexpr std::uint64_t kEven = 0x5555555555555555u;
  if (last > kSector || first > last) return false;
  if (width == 1) return Count(badByte_, first, last, kAll) == 0;
  // IsEightBitTextInUtf16 over the range, from the counts.
  const std::size_t size = last - first;
  if (size >= 64 && Count(lineFeed_, first, last, kAll) > 0 && (size - Count(notPlain_, first, last, kAll)) * 100 >= size * 95)
    return false;
  if (size < 2) return true;
  return Count(badUnit_, first, last - 1, first % 2 == 0 ? kEven : ~kEven) == 0;
}

bool Passes(ByteView sector, const Check& check, std::span<const std::uint32_t> fatSectors, const SectorText* text) {
  switch (check.role) {
    case Role::Fat: return PassTable(sector, check.first, true, fatSectors);
    case Role::Difat: return PassDifat(sector);
    case Role::Directory: return PassDirectory(sector);
    case Role::MiniFat: return PassTable(sector, check.first, false, fatSectors);
    case Role::Fib: return PassFib(sector, check.first);
    case Role::Text: return text != nullptr ? text->Passes(check.first, check.last, check.width)
                                            : SectorText(sector).Passes(check.first, check.last, check.width);
    case Role::Rising: return PassRising(sector, check.first, check.last);
    case Role::FormattingPage: return PassFormattingPage(sector, check.first);
    case Role::PageNumbers: return PassPageNumbers(sector, check);
    case Role::ClxStart: return PassClxStart(sector, check);
  }
  return false;
}

}  // namespace vellumark::reassembly
