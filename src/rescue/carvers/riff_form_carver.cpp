// RIFF files of forms other than the four the classifier names (WebP, MIDI
// in RIFF, and others): the header declares the length, and since a
// plausible form type alone says little, the chunks inside are walked (their
// headers only, bodies claimed unread) and must fill that length exactly. A
// copy cut short by the end of the source is not claimed.
#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kChunkHeader = 8;
constexpr std::uint64_t kFormHeader = 12;
constexpr std::uint64_t kMostChunks = 1 << 20;

bool IsIdChar(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

bool WalkChunks(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const std::uint8_t* h = window.At(0, kFormHeader);
  if (h == nullptr || LoadLe32(h) != 0x46464952) return false;  // "RIFF"
  const std::uint64_t end = kChunkHeader + LoadLe32(h + 4);
  for (int i = 8; i < 12; ++i) {
    if (!IsIdChar(h[i])) return false;
  }
  std::uint64_t at = kFormHeader;
  for (std::uint64_t chunk = 0; chunk < kMostChunks; ++chunk) {
    // A pad byte after an odd last chunk is not always counted in the size.
    if (at == end || (at == end + 1 && chunk > 0)) return window.ClaimTo(at);
    if (at + kChunkHeader > end) return false;
    const std::uint8_t* c = window.At(at, kChunkHeader);
    if (c == nullptr) return false;
    for (int i = 0; i < 4; ++i) {
      if (!IsIdChar(c[i])) return false;
    }
    const std::uint64_t size = LoadLe32(c + 4);
    at += kChunkHeader + size + (size & 1);
  }
  return false;
}

}  // namespace

void RiffFormCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkChunks(attempt)) attempt.Succeed();
}

}  // namespace vellumark
