// WOFF web fonts: the header declares the whole length. It is taken once the
// table directory agrees with it: every table's compressed data, and the
// metadata and private blocks, lie inside it.
#include <algorithm>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestWoff = 256 << 20;
constexpr std::uint64_t kHeader = 44;
constexpr std::uint64_t kTableRecord = 20;

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const auto h = window.At(0, kHeader);
  if (!h || !h->Equals(0, signature::kWoff)) return false;
  const auto declared = h->Be32(8);
  const auto tables = h->Be16(12);
  const auto reserved = h->Be16(14);
  if (!declared || !tables || !reserved) return false;
  const std::uint64_t length = *declared;
  if (*tables == 0 || *reserved != 0) return false;
  const std::uint64_t directoryEnd = kHeader + *tables * kTableRecord;
  if (length < directoryEnd || length > kLargestWoff) return false;
  // Metadata and private data blocks: offset and length, or zeros.
  for (const std::uint64_t at : {24u, 36u}) {
    const auto offset = h->Be32(at), size = h->Be32(at + 4);
    if (!offset || !size) return false;
    if (*size != 0 && (*offset < directoryEnd || std::uint64_t{*offset} + *size > length)) return false;
  }
  const auto d = window.At(kHeader, directoryEnd - kHeader);
  if (!d) return false;
  std::uint64_t end = directoryEnd;
  for (std::uint16_t i = 0; i < *tables; ++i) {
    const std::uint64_t record = i * kTableRecord;
    const auto offset = d->Be32(record + 4), compressed = d->Be32(record + 8);
    if (!offset || !compressed) return false;
    if (*offset < directoryEnd || *offset % 4 != 0) return false;
    end = std::max(end, std::uint64_t{*offset} + *compressed);
  }
  return end <= length && window.ClaimTo(length);
}

}  // namespace

void WoffCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  if (Measure(attempt)) attempt.Succeed();
}

}  // namespace vellumark
