// RIFF files (AVI, WAVE, animated cursors, CDXA): the header declares the
// length, up to 4 GiB + 7; the sectors it covers are claimed unread.
#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {

void RiffCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  const ByteView header = attempt.View();
  const auto length = header.Le32(4);
  if (!header.Equals(0, signature::kRiff) || !length) return;
  attempt.ClaimDeclaredLength(static_cast<std::uint64_t>(*length) + 8);
  attempt.Succeed();
}

}  // namespace vellumark
