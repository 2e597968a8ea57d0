// MP4 and QuickTime: the top-level boxes after "ftyp", up to and including
// the first "moov". Long boxes ("mdat") are claimed unread but for their tail.

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint32_t kLargestFtyp = 256;
bool Accepted(ByteView box) { return TagIsOneOf(box, 4, {"isom", "free", "uuid", "mdat", "moov"}); }

bool WalkBoxes(CarveAttempt& attempt) {
  const ByteView hit = attempt.View();
  const auto ftypSize = hit.Be32(0);
  if (!ftypSize || (*ftypSize >> 16) != 0 || !hit.Equals(4, signature::kMp4FileType)) return false;
  if (*ftypSize >= kLargestFtyp) return false;
  std::int64_t offset = *ftypSize;
  for (;;) {
    if (!attempt.LoadUpTo(offset + 8)) return false;
    const auto box = attempt.View().Bytes(offset, 8);
    const auto declared = box ? box->Be32(0) : std::nullopt;
    if (!declared || !Accepted(*box)) return false;
    const std::uint32_t size = *declared;
    const bool moov = box->Equals(4, "moov");
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
