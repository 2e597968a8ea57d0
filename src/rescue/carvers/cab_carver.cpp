// Cabinets: the header declares the whole length (cbCabinet); the sectors it
// covers are claimed unread.
#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {

void CabCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  if (LoadLe32(attempt.Image()) != 0x4643534D) return;  // "MSCF"
  attempt.ClaimDeclaredLength(LoadLe32(attempt.Image() + 8));
  attempt.Succeed();
}

}  // namespace vellumark
