// RIFF files of forms other than the four the classifier names (WebP, MIDI
// in RIFF, and others): the header declares the length, and since a
// plausible form type alone says little, the chunks inside are walked (their
// headers only, bodies claimed unread) and must fill that length exactly. A
// copy cut short by the end of the source is not claimed.
#include <algorithm>

#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kChunkHeader = 8;
constexpr std::uint64_t kFormHeader = 12;
constexpr std::uint64_t kMostChunks = 1 << 20;

bool IsIdChar(std::uint8_t c) { return c >= 0x20 && c <= 0x7E; }

bool WalkChunks(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const auto h = window.At(0, kFormHeader);
  if (!h || !h->Equals(0, signature::kRiff)) return false;
  const auto declared = h->Le32(4);
  const auto form = h->Bytes(8, 4);
  if (!declared || !form) return false;
  const std::uint64_t end = kChunkHeader + *declared;
  if (!std::all_of(form->begin(), form->end(), IsIdChar)) return false;
  std::uint64_t at = kFormHeader;
  for (std::uint64_t chunk = 0; chunk < kMostChunks; ++chunk) {
    // A pad byte after an odd last chunk is not always counted in the size.
    if (at == end || (at == end + 1 && chunk > 0)) return window.ClaimTo(at);
    if (at + kChunkHeader > end) return false;
    const auto c = window.At(at, kChunkHeader);
    if (!c) return false;
    const auto id = c->Bytes(0, 4);
    const auto size = c->Le32(4);
    if (!id || !size) return false;
    if (!std::all_of(id->begin(), id->end(), IsIdChar)) return false;
    at += kChunkHeader + *size + (*size & 1);
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
