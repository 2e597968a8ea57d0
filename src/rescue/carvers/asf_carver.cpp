// ASF (Windows Media): with the file properties object first in the header,
// its file size gives the length (claimed unread); otherwise the top-level
// objects are walked up to the data object, reading only object headers and
// the tail of each object.

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint8_t kDataObjectFirstByte = 0x36;
constexpr std::int64_t kObjectHeader = 24;

// Objects after the header must belong to one of two GUID families, which
// differ from their members only in the first byte.
bool InKnownFamily(ByteView object) {
  return object.Equals(1, signature::kAsfHeaderObject.substr(1)) ||
         object.Equals(1, signature::kAsfExtendedContentDescription.substr(1));
}

bool WalkObjects(CarveAttempt& attempt) {
  std::int64_t position = 0;
  for (bool first = true;; first = false) {
    if (!attempt.LoadUpTo(position + kObjectHeader)) return false;
    const auto object = attempt.View().Bytes(position, kObjectHeader);
    const auto guidFirstByte = object ? object->Byte(0) : std::nullopt;
    const auto declared = object ? object->Le64(16) : std::nullopt;
    if (!guidFirstByte || !declared) return false;
    const std::int64_t size = static_cast<std::int64_t>(*declared);
    if (!first && !InKnownFamily(*object)) return false;
    // A size below its own header would never move the walk on.
    if (size < kObjectHeader) return false;

    const std::int64_t next = attempt.PassStructure(position, size);
    if (next < 0) return false;
    position = attempt.CutBack(next);
    if (*guidFirstByte == kDataObjectFirstByte) return true;
  }
}

}  // namespace

void AsfCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthNone);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(30, signature::kAsfFileProperties)) return;
  const auto declared = attempt.View().Le64(70);
  if (!declared) return;
  const auto fileSize = static_cast<std::int64_t>(*declared);
  if (fileSize > 0) attempt.ClaimDeclaredLength(static_cast<std::uint64_t>(fileSize));
  attempt.Succeed();
}

void AsfObjectCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(0, signature::kAsfHeaderObject)) return;
  if (WalkObjects(attempt)) attempt.Succeed();
}

}  // namespace vellumark
