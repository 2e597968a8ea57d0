// SQLite 3 databases: the header's page size times its page count. The count
// is trusted only when the change counter matches the version-valid-for
// number, as SQLite itself does (older writers left the count stale);
// otherwise the length is unknown and nothing is claimed.

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestDatabase = std::uint64_t{16} << 30;
constexpr std::uint64_t kHeader = 100;

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const auto h = window.At(0, kHeader);
  if (!h || !h->Equals(0, signature::kSqlite)) return false;
  const auto declaredPageSize = h->Be16(16);
  const auto maxPayload = h->Byte(21), minPayload = h->Byte(22), leafPayload = h->Byte(23);
  const auto pages = h->Be32(28), changes = h->Be32(24), validFor = h->Be32(92);
  if (!declaredPageSize || !maxPayload || !minPayload || !leafPayload || !pages || !changes || !validFor) return false;
  std::uint32_t pageSize = *declaredPageSize;
  if (pageSize == 1) pageSize = 65536;
  // A power of two from 512 to 65536; the payload fractions are fixed.
  if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) return false;
  if (*maxPayload != 64 || *minPayload != 32 || *leafPayload != 32) return false;
  if (*pages == 0 || *changes != *validFor) return false;
  const std::uint64_t length = std::uint64_t{pageSize} * *pages;
  return length <= kLargestDatabase && window.ClaimTo(length);
}

}  // namespace

void SqliteCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  if (Measure(attempt)) attempt.Succeed();
}

}  // namespace vellumark
