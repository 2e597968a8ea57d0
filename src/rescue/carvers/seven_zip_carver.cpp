// 7z archives (format 0.3, and 0.4 as 7-Zip writes today, whose signature
// header is laid out alike): the signature header locates the next header at
// the archive's end, which gives its whole length; the sectors it covers are
// claimed unread.
#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {

void SevenZipCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  const ByteView header = attempt.View();
  const auto nextHeaderOffset = header.Le64(12), nextHeaderSize = header.Le64(20);
  const bool known = header.Equals(0, signature::kSevenZip) || header.Equals(0, signature::kSevenZipCurrent);
  if (!known || !nextHeaderOffset || !nextHeaderSize) return;
  // Unsigned 64-bit, as stored: the sum wraps only for sizes no disk holds.
  attempt.ClaimDeclaredLength(32 + *nextHeaderOffset + *nextHeaderSize);
  attempt.Succeed();
}

}  // namespace vellumark
