// ELF programs, libraries and object files, 32- or 64-bit, either byte order.
// The file ends with whichever lies furthest: the section header table or
// the data of a segment or section. The program headers (near the start)
// and the section header table (usually at the end) are the only parts read;
// everything between is claimed unread.
#include <algorithm>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestElf = std::uint64_t{4} << 30;
constexpr std::uint32_t kSectionNoBits = 8;  // .bss: occupies no file bytes

struct Layout {
  bool wide = false;  // 64-bit
  bool big = false;   // big-endian
  std::optional<std::uint16_t> Half(ByteView b, std::uint64_t at) const { return big ? b.Be16(at) : b.Le16(at); }
  std::optional<std::uint32_t> Word(ByteView b, std::uint64_t at) const { return big ? b.Be32(at) : b.Le32(at); }
  std::optional<std::uint64_t> Addr(ByteView b, std::uint64_t at) const {
    if (wide) return big ? b.Be64(at) : b.Le64(at);
    return Word(b, at);
  }
};

struct Table {
  std::uint64_t offset = 0;
  std::uint64_t entrySize = 0;
  std::uint64_t count = 0;
  std::uint64_t End() const { return offset + entrySize * count; }
};

// The end of the data the entries of a table point to, or 0 when an entry
// is impossible; sections is true for the section header table.
std::uint64_t DataEnd(const Layout& layout, ByteView table, const Table& t, bool sections) {
  std::uint64_t end = 1;
  for (std::uint64_t i = 0; i < t.count; ++i) {
    const auto e = table.Bytes(i * t.entrySize, t.entrySize);
    if (!e) return 0;
    std::optional<std::uint64_t> offsetField, sizeField;
    if (sections) {
      if (layout.Word(*e, 4) == kSectionNoBits) continue;
      offsetField = layout.Addr(*e, layout.wide ? 24 : 16);
      sizeField = layout.Addr(*e, layout.wide ? 32 : 20);
    } else {
      offsetField = layout.Addr(*e, layout.wide ? 8 : 4);
      sizeField = layout.Addr(*e, layout.wide ? 32 : 16);
    }
    if (!offsetField || !sizeField) return 0;
    const std::uint64_t offset = *offsetField, size = *sizeField;
    if (size == 0) continue;
    if (offset > kLargestElf || size > kLargestElf) return 0;
    end = std::max(end, offset + size);
  }
  return end;
}

bool Measure(CarveAttempt& attempt) {
  const auto header = attempt.View().Bytes(0, 64);
  if (!header || !header->Equals(0, signature::kElf)) return false;
  const ByteView h = *header;
  const auto elfClass = h.Byte(4), encoding = h.Byte(5), version = h.Byte(6);
  if (!elfClass || !encoding || !version) return false;
  if ((*elfClass != 1 && *elfClass != 2) || (*encoding != 1 && *encoding != 2) || *version != 1) return false;
  Layout layout;
  layout.wide = *elfClass == 2;
  layout.big = *encoding == 2;
  const std::uint64_t headerSize = layout.wide ? 64 : 52;
  if (layout.Half(h, layout.wide ? 52 : 40) != headerSize) return false;
  const auto programsAt = layout.Addr(h, layout.wide ? 32 : 28), sectionsAt = layout.Addr(h, layout.wide ? 40 : 32);
  const auto programSize = layout.Half(h, layout.wide ? 54 : 42), programCount = layout.Half(h, layout.wide ? 56 : 44);
  const auto sectionSize = layout.Half(h, layout.wide ? 58 : 46), sectionCount = layout.Half(h, layout.wide ? 60 : 48);
  if (!programsAt || !sectionsAt || !programSize || !programCount || !sectionSize || !sectionCount) return false;
  Table programs, sections;
  programs.offset = *programsAt;
  sections.offset = *sectionsAt;
  programs.entrySize = *programSize;
  programs.count = *programCount;
  sections.entrySize = *sectionSize;
  sections.count = *sectionCount;
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
    const auto bytes = window.At(t->offset, t->End() - t->offset);
    if (!bytes) return false;
    const std::uint64_t dataEnd = DataEnd(layout, *bytes, *t, t == &sections);
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
