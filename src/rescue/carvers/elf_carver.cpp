// ELF programs, libraries and object files, 32- or 64-bit, either byte order.
// The file ends with whichever lies furthest: the section header table or
// the data of a segment or section. The program headers (near the start)
// and the section header table (usually at the end) are the only parts read;
// everything between is claimed unread.
#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestElf = std::uint64_t{4} << 30;
constexpr std::uint32_t kSectionNoBits = 8;  // .bss: occupies no file bytes

struct Layout {
  bool wide = false;  // 64-bit
  bool big = false;   // big-endian
  std::uint16_t Half(const std::uint8_t* p) const {
    return big ? static_cast<std::uint16_t>(p[0] << 8 | p[1]) : LoadLe16(p);
  }
  std::uint32_t Word(const std::uint8_t* p) const { return big ? LoadBe32(p) : LoadLe32(p); }
  std::uint64_t Addr(const std::uint8_t* p) const { return wide ? (big ? LoadBe64(p) : LoadLe64(p)) : Word(p); }
};

struct Table {
  std::uint64_t offset = 0;
  std::uint64_t entrySize = 0;
  std::uint64_t count = 0;
  std::uint64_t End() const { return offset + entrySize * count; }
};

// The end of the data the entries of a table point to, or 0 when an entry
// is impossible; sections is true for the section header table.
std::uint64_t DataEnd(const Layout& layout, const std::uint8_t* table, const Table& t, bool sections) {
  std::uint64_t end = 1;
  for (std::uint64_t i = 0; i < t.count; ++i) {
    const std::uint8_t* e = table + i * t.entrySize;
    std::uint64_t offset = 0, size = 0;
    if (sections) {
      if (layout.Word(e + 4) == kSectionNoBits) continue;
      offset = layout.Addr(e + (layout.wide ? 24 : 16));
      size = layout.Addr(e + (layout.wide ? 32 : 20));
    } else {
      offset = layout.Addr(e + (layout.wide ? 8 : 4));
      size = layout.Addr(e + (layout.wide ? 32 : 16));
    }
    if (size == 0) continue;
    if (offset > kLargestElf || size > kLargestElf) return 0;
    end = std::max(end, offset + size);
  }
  return end;
}

bool Measure(CarveAttempt& attempt) {
  const std::uint8_t* h = attempt.Image();
  if (attempt.Loaded() < 64 || std::memcmp(h, "\x7F" "ELF", 4) != 0) return false;
  if ((h[4] != 1 && h[4] != 2) || (h[5] != 1 && h[5] != 2) || h[6] != 1) return false;
  Layout layout;
  layout.wide = h[4] == 2;
  layout.big = h[5] == 2;
  const std::uint64_t headerSize = layout.wide ? 64 : 52;
  if (layout.Half(h + (layout.wide ? 52 : 40)) != headerSize) return false;
  Table programs, sections;
  programs.offset = layout.Addr(h + (layout.wide ? 32 : 28));
  sections.offset = layout.Addr(h + (layout.wide ? 40 : 32));
  programs.entrySize = layout.Half(h + (layout.wide ? 54 : 42));
  programs.count = layout.Half(h + (layout.wide ? 56 : 44));
  sections.entrySize = layout.Half(h + (layout.wide ? 58 : 46));
  sections.count = layout.Half(h + (layout.wide ? 60 : 48));
  // Entries at least as long as the fields read from them.
  const std::uint64_t programEntry = layout.wide ? 56 : 32, sectionEntry = layout.wide ? 64 : 40;
  if (programs.offset == 0 || programs.count == 0) programs.count = 0;
  else if (programs.entrySize < programEntry || programs.offset < headerSize) return false;
  // No sections at all, or more than 65,279 (the count then lies in the
  // first section header, which this walk does not follow).
  if (sections.offset == 0 || sections.count == 0) {
    if (sections.offset != 0) return false;
    sections.count = 0;
  } else if (sections.entrySize < sectionEntry || sections.offset < headerSize) {
    return false;
  }
  if (programs.offset > kLargestElf || sections.offset > kLargestElf) return false;
  if (programs.count == 0 && sections.count == 0) return false;

  std::uint64_t end = std::max({headerSize, programs.End(), sections.End()});
  ForwardWindow window(attempt);
  // The tables in the order they lie in the file, since the window only moves on.
  Table* order[2] = {&programs, &sections};
  if (sections.offset < programs.offset) std::swap(order[0], order[1]);
  for (Table* t : order) {
    if (t->count == 0) continue;
    const std::uint8_t* bytes = window.At(t->offset, t->End() - t->offset);
    if (bytes == nullptr) return false;
    const std::uint64_t dataEnd = DataEnd(layout, bytes, *t, t == &sections);
    if (dataEnd == 0) return false;
    end = std::max(end, dataEnd);
  }
  return end <= kLargestElf && window.ClaimTo(end);
}

}  // namespace

void ElfCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (Measure(attempt)) attempt.Succeed();
}

}  // namespace vellumark
