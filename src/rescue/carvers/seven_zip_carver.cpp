// 7z archives (format 0.3): the signature header locates the next header at
// the archive's end, which gives its whole length; the sectors it covers are
// claimed unread.
#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {

void SevenZipCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  const std::uint8_t* header = attempt.Image();
  if (LoadLe32(header) != 0xAFBC7A37 || LoadLe32(header + 4) != 0x03001C27) return;
  // Unsigned 64-bit, as stored: the sum wraps only for sizes no disk holds.
  attempt.ClaimDeclaredLength(32 + LoadLe64(header + 12) + LoadLe64(header + 20));
  attempt.Succeed();
}

}  // namespace vellumark
