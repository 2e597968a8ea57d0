// SQLite 3 databases: the header's page size times its page count. The count
// is trusted only when the change counter matches the version-valid-for
// number, as SQLite itself does (older writers left the count stale);
// otherwise the length is unknown and nothing is claimed.
#include <cstring>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestDatabase = std::uint64_t{16} << 30;
constexpr std::uint64_t kHeader = 100;

bool Measure(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  const std::uint8_t* h = window.At(0, kHeader);
  if (h == nullptr || std::memcmp(h, "SQLite format 3", 16) != 0) return false;
  std::uint32_t pageSize = static_cast<std::uint32_t>(h[16] << 8 | h[17]);
  if (pageSize == 1) pageSize = 65536;
  // A power of two from 512 to 65536; the payload fractions are fixed.
  if (pageSize < 512 || pageSize > 65536 || (pageSize & (pageSize - 1)) != 0) return false;
  if (h[21] != 64 || h[22] != 32 || h[23] != 32) return false;
  const std::uint32_t pages = LoadBe32(h + 28);
  if (pages == 0 || LoadBe32(h + 24) != LoadBe32(h + 92)) return false;
  const std::uint64_t length = std::uint64_t{pageSize} * pages;
  return length <= kLargestDatabase && window.ClaimTo(length);
}

}  // namespace

void SqliteCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  if (Measure(attempt)) attempt.Succeed();
}

}  // namespace vellumark
