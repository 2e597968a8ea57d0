// MP4 and QuickTime: the top-level boxes after "ftyp", up to and including
// the first "moov". Long boxes ("mdat") are claimed unread but for their tail.
#include <cstring>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint32_t kLargestFtyp = 256;
bool Accepted(const std::uint8_t* type) { return TagIsOneOf(type, {"isom", "free", "uuid", "mdat", "moov"}); }

bool WalkBoxes(CarveAttempt& attempt) {
  const std::uint8_t* hit = attempt.Image();
  if (hit[0] != 0 || hit[1] != 0 || std::memcmp(hit + 4, "ftyp", 4) != 0) return false;
  const std::uint32_t ftypSize = LoadBe32(hit);
  if (ftypSize >= kLargestFtyp) return false;
  std::int64_t offset = ftypSize;
  for (;;) {
    if (!attempt.LoadUpTo(offset + 8)) return false;
    const std::uint32_t size = LoadBe32(attempt.Image() + offset);
    std::uint8_t type[4];
    std::memcpy(type, attempt.Image() + offset + 4, 4);
    if (!Accepted(type)) return false;
    const bool moov = std::memcmp(type, "moov", 4) == 0;
    // Size 0 ("to the end of the file") and 1 (a 64-bit size follows) are not
    // followed; outside "moov", where the walk ends anyway, they would stall it.
    if (!moov && size <= 1) return false;
    const std::int64_t next = attempt.PassStructure(offset, size);
    if (next < 0) return false;
    offset = attempt.CutBack(next);
    if (moov) return true;
  }
}

}  // namespace

void Mp4Carver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkBoxes(attempt)) attempt.Succeed();
}

}  // namespace vellumark
