// RAR 1.5 to 4.x: the block chain after the marker block, up to and
// including the end-of-archive block. Packed file data is claimed unread but
// for its tail.

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint8_t kFirstBlockType = 0x73;  // archive header
constexpr std::uint8_t kEndOfArchive = 0x7B;
constexpr std::uint16_t kHasAddedSize = 0x8000;
constexpr std::int64_t kFixedHeader = 7;

bool WalkBlocks(CarveAttempt& attempt) {
  if (!attempt.View().Equals(0, signature::kRar)) return false;
  std::int64_t offset = kFixedHeader;
  for (;;) {
    if (!attempt.LoadUpTo(offset + kFixedHeader)) return false;
    const auto header = attempt.View().Bytes(offset, kFixedHeader);
    const auto typeField = header ? header->Byte(2) : std::nullopt;
    const auto flags = header ? header->Le16(3) : std::nullopt;
    const auto headerSize = header ? header->Le16(5) : std::nullopt;
    if (!typeField || !flags || !headerSize) return false;
    const std::uint8_t type = *typeField;
    // 64-bit: a packed size with its top bit set must not turn negative and
    // move the walk backwards.
    std::int64_t size = *headerSize;
    if ((*flags & kHasAddedSize) != 0) {
      if (!attempt.LoadUpTo(offset + kFixedHeader + 4)) return false;
      const auto added = attempt.View().Le32(offset + kFixedHeader);
      if (!added) return false;
      size += *added;
    }
    if (type < kFirstBlockType || type > kEndOfArchive) return false;
    if (size == 0 && type != kEndOfArchive) return false;  // would never move on
    const std::int64_t next = attempt.PassStructure(offset, size);
    if (next < 0) return false;
    offset = attempt.CutBack(next);
    if (type == kEndOfArchive) return true;
  }
}

}  // namespace

void RarCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkBlocks(attempt)) attempt.Succeed();
}

}  // namespace vellumark
