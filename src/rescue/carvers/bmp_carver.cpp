// Windows bitmaps: the file header declares the length; the sectors it covers
// are claimed unread.
#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {
constexpr std::int64_t kSmallestBitmap = 58;
constexpr std::int64_t kLargestBitmap = 104'857'600;
}  // namespace

void BmpCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  const ByteView header = attempt.View();
  if (!header.Equals(0, signature::kBmp) || header.Le32(6) != 0u) return;
  const auto declared = header.Le32(2);
  if (!declared) return;
  // The size is a signed field: a negative or implausible one keeps just the
  // hit sector, which certainly belongs to the bitmap.
  const auto size = static_cast<std::int32_t>(*declared);
  if (size >= kSmallestBitmap && size <= kLargestBitmap) attempt.ClaimDeclaredLength(static_cast<std::uint64_t>(size));
  attempt.Succeed();
}

}  // namespace vellumark
