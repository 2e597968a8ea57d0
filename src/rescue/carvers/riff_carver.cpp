// RIFF files (AVI, WAVE, animated cursors, CDXA): the header declares the
// length, up to 4 GiB + 7; the sectors it covers are claimed unread.
#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {

void RiffCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  const std::uint8_t* header = attempt.Image();
  if (header[0] != 'R' || header[1] != 'I' || header[2] != 'F' || header[3] != 'F') return;
  attempt.ClaimDeclaredLength(static_cast<std::uint64_t>(LoadLe32(header + 4)) + 8);
  attempt.Succeed();
}

}  // namespace vellumark
