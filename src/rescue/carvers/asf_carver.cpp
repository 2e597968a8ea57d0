// ASF (Windows Media): with the file properties object first in the header,
// its file size gives the length (claimed unread); otherwise the top-level
// objects are walked up to the data object, reading only object headers and
// the tail of each object.
#include <cstring>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint8_t kHeaderObject[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::uint8_t kFileProperties[] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                            0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::uint8_t kExtendedContentDescription[] = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                                        0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
constexpr std::uint8_t kDataObjectFirstByte = 0x36;
constexpr std::int64_t kObjectHeader = 24;

// Objects after the header must belong to one of two GUID families, which
// differ from their members only in the first byte.
bool InKnownFamily(const std::uint8_t* guid) {
  return std::memcmp(guid + 1, kHeaderObject + 1, 15) == 0 ||
         std::memcmp(guid + 1, kExtendedContentDescription + 1, 15) == 0;
}

bool WalkObjects(CarveAttempt& attempt) {
  std::int64_t position = 0;
  for (bool first = true;; first = false) {
    if (!attempt.LoadUpTo(position + kObjectHeader)) return false;
    std::uint8_t guid[16];
    std::memcpy(guid, attempt.Image() + position, sizeof guid);
    const std::int64_t size = static_cast<std::int64_t>(LoadLe64(attempt.Image() + position + 16));
    if (!first && !InKnownFamily(guid)) return false;
    // A size below its own header would never move the walk on.
    if (size < kObjectHeader) return false;

    const std::int64_t next = attempt.PassStructure(position, size);
    if (next < 0) return false;
    position = attempt.CutBack(next);
    if (guid[0] == kDataObjectFirstByte) return true;
  }
}

}  // namespace

void AsfCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  if (std::memcmp(attempt.Image() + 30, kFileProperties, sizeof kFileProperties) != 0) return;
  const auto fileSize = static_cast<std::int64_t>(LoadLe64(attempt.Image() + 70));
  if (fileSize > 0) attempt.ClaimDeclaredLength(static_cast<std::uint64_t>(fileSize));
  attempt.Succeed();
}

void AsfObjectCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (std::memcmp(attempt.Image(), kHeaderObject, sizeof kHeaderObject) != 0) return;
  if (WalkObjects(attempt)) attempt.Succeed();
}

}  // namespace vellumark
