// TrueType and OpenType fonts ("\0\1\0\0", "true", "OTTO"): the table
// directory after the offset table lists every table's offset and length,
// and the font ends with the furthest table. Only the directory is read.
#include <algorithm>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestFont = 256 << 20;
constexpr std::uint64_t kOffsetTable = 12;
constexpr std::uint64_t kTableRecord = 16;

bool IsTagChar(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const auto h = window.At(0, kOffsetTable);
  if (!h) return false;
  using namespace signature;
  if (!h->Equals(0, kSfntTrueType) && !h->Equals(0, kSfntApple) && !h->Equals(0, kSfntOpenType)) return false;
  const auto tables = h->Be16(4);
  if (!tables || *tables == 0) return false;
  const std::uint64_t directoryEnd = kOffsetTable + *tables * kTableRecord;
  const auto d = window.At(0, directoryEnd);
  if (!d) return false;
  std::uint64_t end = directoryEnd;
  for (std::uint16_t i = 0; i < *tables; ++i) {
    const auto record = d->Bytes(kOffsetTable + i * kTableRecord, kTableRecord);
    const auto tag = record ? record->Bytes(0, 4) : std::nullopt;
    if (!tag) return false;
    if (!std::all_of(tag->begin(), tag->end(), IsTagChar)) return false;
    const auto offset = record->Be32(8), length = record->Be32(12);
    if (!offset || !length) return false;
    // Tables lie after the directory, on four-byte boundaries.
    if (*offset < directoryEnd || *offset % 4 != 0) return false;
    end = std::max(end, std::uint64_t{*offset} + *length);
  }
  return end <= kLargestFont && window.ClaimTo(end);
}

}  // namespace

void SfntFontCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  if (Measure(attempt)) attempt.Succeed();
}

}  // namespace vellumark
