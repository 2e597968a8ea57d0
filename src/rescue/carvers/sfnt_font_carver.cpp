// TrueType and OpenType fonts ("\0\1\0\0", "true", "OTTO"): the table
// directory after the offset table lists every table's offset and length,
// and the font ends with the furthest table. Only the directory is read.
#include <algorithm>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestFont = 256 << 20;
constexpr std::uint64_t kOffsetTable = 12;
constexpr std::uint64_t kTableRecord = 16;

bool IsTagChar(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const std::uint8_t* h = window.At(0, kOffsetTable);
  if (h == nullptr) return false;
  const std::uint32_t version = LoadBe32(h);
  if (version != 0x00010000 && version != 0x74727565 && version != 0x4F54544F) return false;  // "true", "OTTO"
  const std::uint16_t tables = static_cast<std::uint16_t>(h[4] << 8 | h[5]);
  if (tables == 0) return false;
  const std::uint64_t directoryEnd = kOffsetTable + tables * kTableRecord;
  const std::uint8_t* d = window.At(0, directoryEnd);
  if (d == nullptr) return false;
  std::uint64_t end = directoryEnd;
  for (std::uint16_t i = 0; i < tables; ++i) {
    const std::uint8_t* record = d + kOffsetTable + i * kTableRecord;
    if (!std::all_of(record, record + 4, IsTagChar)) return false;
    const std::uint64_t offset = LoadBe32(record + 8), length = LoadBe32(record + 12);
    // Tables lie after the directory, on four-byte boundaries.
    if (offset < directoryEnd || offset % 4 != 0) return false;
    end = std::max(end, offset + length);
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
