// PE/COFF programs and libraries (.exe, .dll, .efi, .sys). The file ends with
// whichever lies furthest: the headers, the raw data of a section, the
// certificate table (whose directory entry, unlike the others, holds a file
// offset) or a COFF symbol table with its string table. Data appended after
// all of these (an installer's payload) is no part of the image the format
// describes and is not claimed.
#include <algorithm>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestPe = std::uint64_t{4} << 30;
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32 = 0x10B;
constexpr std::uint16_t kPe32Plus = 0x20B;
constexpr std::uint16_t kMostSections = 96;
constexpr std::uint32_t kCertificateDirectory = 4;
constexpr std::uint64_t kSectionHeader = 40;
constexpr std::uint64_t kSymbol = 18;
constexpr std::uint32_t kMostSymbols = 1 << 24;

bool Measure(CarveAttempt& attempt) {
  const std::int64_t sector = attempt.Run().BytesPerSector();
  const std::uint8_t* h = attempt.Image();
  if (h[0] != 'M' || h[1] != 'Z') return false;
  const std::uint32_t pe = LoadLe32(h + 0x3C);
  // The classifier saw the signature in the hit sector; so must the walk.
  if (pe < 4 || pe > static_cast<std::uint64_t>(sector) - 4 || LoadLe32(h + pe) != kPeSignature) return false;

  ForwardWindow window(attempt);
  const std::uint64_t coff = pe + 4;
  const std::uint8_t* c = window.At(coff, 20);
  if (c == nullptr) return false;
  const std::uint16_t sections = LoadLe16(c + 2);
  const std::uint32_t symbols = LoadLe32(c + 8), symbolCount = LoadLe32(c + 12);
  const std::uint16_t optionalSize = LoadLe16(c + 16);
  if (sections == 0 || sections > kMostSections || symbolCount > kMostSymbols) return false;
  const std::uint64_t optional = coff + 20;
  const std::uint64_t sectionTable = optional + optionalSize;
  // The optional header and the section table, read together.
  const std::uint8_t* o = window.At(optional, optionalSize + sections * kSectionHeader);
  if (o == nullptr || optionalSize < 2) return false;
  const std::uint16_t magic = LoadLe16(o);
  if (magic != kPe32 && magic != kPe32Plus) return false;
  const std::uint64_t countAt = magic == kPe32 ? 92 : 108;
  if (optionalSize < countAt + 4) return false;
  const std::uint64_t headers = LoadLe32(o + 60);  // SizeOfHeaders
  std::uint64_t end = std::max(headers, sectionTable + sections * kSectionHeader);

  const std::uint64_t directories = countAt + 4;
  const std::uint32_t directoryCount = LoadLe32(o + countAt);
  if (directoryCount > kCertificateDirectory &&
      optionalSize >= directories + (kCertificateDirectory + 1) * 8) {
    const std::uint8_t* certificates = o + directories + kCertificateDirectory * 8;
    const std::uint32_t size = LoadLe32(certificates + 4);
    if (size != 0) end = std::max(end, std::uint64_t{LoadLe32(certificates)} + size);
  }
  for (std::uint16_t i = 0; i < sections; ++i) {
    const std::uint8_t* s = o + optionalSize + i * kSectionHeader;
    const std::uint32_t rawSize = LoadLe32(s + 16), rawAt = LoadLe32(s + 20);
    if (rawSize != 0) end = std::max(end, std::uint64_t{rawAt} + rawSize);
  }
  if (end > kLargestPe) return false;
  if (symbols != 0 && symbolCount != 0) {
    // The string table follows the symbols, its length (itself included) first.
    const std::uint64_t strings = std::uint64_t{symbols} + symbolCount * kSymbol;
    const std::uint8_t* length = window.At(strings, 4);
    if (length == nullptr) return false;
    end = std::max(end, strings + std::max<std::uint32_t>(LoadLe32(length), 4));
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
