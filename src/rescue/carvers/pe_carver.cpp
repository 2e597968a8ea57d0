// PE/COFF programs and libraries (.exe, .dll, .efi, .sys). The file ends with
// whichever lies furthest: the headers, the raw data of a section, the
// certificate table (whose directory entry, unlike the others, holds a file
// offset) or a COFF symbol table with its string table. Data appended after
// all of these (an installer's payload) is no part of the image the format
// describes and is not claimed.
#include <algorithm>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestPe = std::uint64_t{4} << 30;
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint16_t kMostSections = 96;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::uint64_t kSectionHeader = 40;
constexpr std::uint64_t kSymbol = 18;
constexpr std::uint32_t kMostSymbols = 1 << 24;

bool Measure(CarveAttempt& attempt) {
  const std::int64_t sector = attempt.Run().BytesPerSector();
  const ByteView h = attempt.View();
  if (!h.Equals(0, signature::kMz)) return false;
  const auto peAt = h.Le32(0x3C);
  if (!peAt) return false;
  const std::uint32_t pe = *peAt;
  // The classifier saw the signature in the hit sector; so must the walk.
  if (pe < 4 || pe > static_cast<std::uint64_t>(sector) - 4 || !h.Equals(pe, signature::kPe)) return false;

  ForwardWindow window(attempt);
  const std::uint64_t coff = pe + 4;
  const auto c = window.At(coff, 20);
  if (!c) return false;
  const auto sectionsField = c->Le16(2), optionalSizeField = c->Le16(16);
  const auto symbolsField = c->Le32(8), symbolCountField = c->Le32(12);
  if (!sectionsField || !optionalSizeField || !symbolsField || !symbolCountField) return false;
  const std::uint16_t sections = *sectionsField;
  const std::uint32_t symbols = *symbolsField, symbolCount = *symbolCountField;
  const std::uint16_t optionalSize = *optionalSizeField;
  if (sections == 0 || sections > kMostSections || symbolCount > kMostSymbols) return false;
  const std::uint64_t optional = coff + 20;
  const std::uint64_t sectionTable = optional + optionalSize;
  // The optional header and the section table, read together.
  const auto o = window.At(optional, optionalSize + sections * kSectionHeader);
  if (!o || optionalSize < 2) return false;
  const auto magic = o->Le16(0);
  if (magic != kPe32 && magic != kPe32Plus) return false;
  const std::uint64_t countAt = magic == kPe32 ? 92 : 108;
  if (optionalSize < countAt + 4) return false;
  const auto headers = o->Le32(60);  // SizeOfHeaders
  const auto directoryCount = o->Le32(countAt);
  if (!headers || !directoryCount) return false;
  std::uint64_t end = std::max<std::uint64_t>(*headers, sectionTable + sections * kSectionHeader);

  const std::uint64_t directories = countAt + 4;
  if (*directoryCount > kCertificateDirectory &&
      optionalSize >= directories + (kCertificateDirectory + 1) * 8) {
    const std::uint64_t certificates = directories + kCertificateDirectory * 8;
    const auto certificatesAt = o->Le32(certificates), size = o->Le32(certificates + 4);
    if (!certificatesAt || !size) return false;
    if (*size != 0) end = std::max(end, std::uint64_t{*certificatesAt} + *size);
  }
  for (std::uint16_t i = 0; i < sections; ++i) {
    const std::uint64_t s = optionalSize + i * kSectionHeader;
    const auto rawSize = o->Le32(s + 16), rawAt = o->Le32(s + 20);
    if (!rawSize || !rawAt) return false;
    if (*rawSize != 0) end = std::max(end, std::uint64_t{*rawAt} + *rawSize);
  }
  if (end > kLargestPe) return false;
  if (symbols != 0 && symbolCount != 0) {
    // The string table follows the symbols, its length (itself included) first.
    const std::uint64_t strings = std::uint64_t{symbols} + symbolCount * kSymbol;
    const auto table = window.At(strings, 4);
    const auto length = table ? table->Le32(0) : std::nullopt;
    if (!length) return false;
    end = std::max(end, strings + std::max<std::uint32_t>(*length, 4));
  }
  return end <= kLargestPe && window.ClaimTo(end);
}

}  // namespace

void PeCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (Measure(attempt)) attempt.Succeed();
}

}  // namespace vellumark
