// Cabinets: the header declares the whole length (cbCabinet); the sectors it
// covers are claimed unread.
#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {

void CabCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  const auto length = attempt.View().Le32(8);
  if (!attempt.View().Equals(0, signature::kCab) || !length) return;
  attempt.ClaimDeclaredLength(*length);
  attempt.Succeed();
}

}  // namespace vellumark
