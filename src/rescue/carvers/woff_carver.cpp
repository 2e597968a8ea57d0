// WOFF web fonts: the header declares the whole length. It is taken once the
// table directory agrees with it: every table's compressed data, and the
// metadata and private blocks, lie inside it.
#include <algorithm>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestWoff = 256 << 20;
constexpr std::uint64_t kHeader = 44;
constexpr std::uint64_t kTableRecord = 20;

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const std::uint8_t* h = window.At(0, kHeader);
  if (h == nullptr || LoadBe32(h) != 0x774F4646) return false;  // "wOFF"
  const std::uint64_t length = LoadBe32(h + 8);
  const std::uint16_t tables = static_cast<std::uint16_t>(h[12] << 8 | h[13]);
  if (tables == 0 || h[14] != 0 || h[15] != 0) return false;
  const std::uint64_t directoryEnd = kHeader + tables * kTableRecord;
  if (length < directoryEnd || length > kLargestWoff) return false;
  // Metadata and private data blocks: offset and length, or zeros.
  for (const std::uint64_t at : {24u, 36u}) {
    const std::uint64_t offset = LoadBe32(h + at), size = LoadBe32(h + at + 4);
    if (size != 0 && (offset < directoryEnd || offset + size > length)) return false;
  }
  const std::uint8_t* d = window.At(kHeader, directoryEnd - kHeader);
  if (d == nullptr) return false;
  std::uint64_t end = directoryEnd;
  for (std::uint16_t i = 0; i < tables; ++i) {
    const std::uint8_t* record = d + i * kTableRecord;
    const std::uint64_t offset = LoadBe32(record + 4), compressed = LoadBe32(record + 8);
    if (offset < directoryEnd || offset % 4 != 0) return false;
    end = std::max(end, offset + compressed);
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
