// ZIP archives of exactly one member: local header and data, one central
// directory header, the end record and its comment. Anything else (a second
// member, a data descriptor) is not claimed.
#include <limits>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint32_t kLocalHeader = 0x04034B50;
constexpr std::uint32_t kCentralHeader = 0x02014B50;
constexpr std::uint32_t kEndRecord = 0x06054B50;
constexpr std::int64_t kLargestOffset = std::numeric_limits<std::int32_t>::max();

// Brings the length bytes of a record at image offset at into the image: the
// sectors wholly before it are claimed unread (and so drop out of the image,
// which moves the record down by a sector each). Returns the record's offset
// in the image, or -1.
std::int64_t Reach(CarveAttempt& attempt, std::int64_t at, std::int64_t length) {
  // A record beyond the end of the source: not claimed sector by sector first.
  if (at > kLargestOffset || !attempt.CanReach(at + length)) return -1;
  const std::int64_t sector = attempt.Run().BytesPerSector();
  while (at >= attempt.Loaded() + sector) {
    if (!attempt.ClaimAhead()) return -1;
    at -= sector;
  }
  return attempt.LoadUpTo(at + length) ? at : -1;
}

bool WalkArchive(CarveAttempt& attempt) {
  if (attempt.Loaded() < 30 || LoadLe32(attempt.Image()) != kLocalHeader) return false;
  const std::uint8_t* local = attempt.Image();
  const std::int64_t central = Reach(attempt, 30 + std::int64_t{LoadLe16(local + 26)} + LoadLe16(local + 28) +
                                                  std::int64_t{LoadLe32(local + 18)}, 46);
  if (central < 0 || LoadLe32(attempt.Image() + central) != kCentralHeader) return false;
  const std::uint8_t* header = attempt.Image() + central;
  const std::int64_t end = Reach(attempt, central + 46 + std::int64_t{LoadLe16(header + 28)} +
                                              LoadLe16(header + 30) + LoadLe16(header + 32), 22);
  if (end < 0 || LoadLe32(attempt.Image() + end) != kEndRecord) return false;
  return Reach(attempt, end + 22 + std::int64_t{LoadLe16(attempt.Image() + end + 20)}, 0) >= 0;
}

}  // namespace

void ZipCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkArchive(attempt)) attempt.Succeed();
}

}  // namespace vellumark
