// PNG: the chunk walk from the signature to "IEND". Only chunk headers and
// the last one or two sectors of each chunk are read; the middle of a long
// chunk is claimed unread, so the image is a shortened view of the file in
// which the cursor stays consistent because the claimed bytes are left out
// of both.
#include <algorithm>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestChunk = 1'000'000;       // data length + CRC
constexpr std::int64_t kLargestImagePosition = 104'857'600;
// Every chunk type is four ASCII letters; the case of each tells readers how
// to treat it, and PNGs carry many more than the critical ones (pHYs, tEXt,
// iCCP, eXIf, APNG's frames, private chunks), all of which belong to the file.
bool Accepted(ByteView type) {
  return std::all_of(type.begin(), type.end(),
                     [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

bool WalkChunks(CarveAttempt& attempt) {
  const std::int64_t sector = attempt.Run().BytesPerSector();
  std::int64_t cursor = 8;
  for (;;) {
    if (attempt.Loaded() < cursor + 8 && !attempt.LoadOneMore()) return false;
    if (attempt.Loaded() < cursor + 8) return false;
    const auto header = attempt.View().Bytes(cursor, 8);
    const auto length = header ? header->Be32(0) : std::nullopt;
    const auto type = header ? header->Bytes(4, 4) : std::nullopt;
    if (!length || !type) return false;
    const bool end = type->Equals(0, signature::kPngEnd);
    cursor += 8;
    std::uint64_t remaining = static_cast<std::uint64_t>(*length) + 4;
    if (!Accepted(*type) || remaining > kLargestChunk) return false;

    while (remaining >= 2 * static_cast<std::uint64_t>(sector)) {
      if (!attempt.ClaimAhead()) return false;
      remaining -= static_cast<std::uint64_t>(sector);
    }
    const std::int64_t chunkEnd = cursor + static_cast<std::int64_t>(remaining);
    if (chunkEnd > kLargestImagePosition) return false;
    while (attempt.Loaded() < chunkEnd) {
      if (!attempt.LoadOneMore()) {
        // A failed read fails the walk; the end of the source only stops the
        // loading, so that an "IEND" whose CRC is cut off still ends it (any
        // other chunk fails at the next header).
        if (!attempt.AtSourceEnd()) return false;
        break;
      }
      attempt.ProgressEvery200Sectors(attempt.Loaded());
    }
    cursor = chunkEnd;
    if (end) return true;
  }
}

}  // namespace

void PngCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthLarge);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(0, signature::kPng)) return;
  if (WalkChunks(attempt)) attempt.Succeed();
}

}  // namespace vellumark
