// RAR 1.5 to 4.x: the block chain after the marker block, up to and
// including the end-of-archive block. Packed file data is claimed unread but
// for its tail.
#include <cstring>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint8_t kMarker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr std::uint8_t kFirstBlockType = 0x73;  // archive header
constexpr std::uint8_t kEndOfArchive = 0x7B;
constexpr std::uint16_t kHasAddedSize = 0x8000;
constexpr std::int64_t kFixedHeader = 7;

bool WalkBlocks(CarveAttempt& attempt) {
  if (std::memcmp(attempt.Image(), kMarker, sizeof kMarker) != 0) return false;
  std::int64_t offset = kFixedHeader;
  for (;;) {
    if (!attempt.LoadUpTo(offset + kFixedHeader)) return false;
    const std::uint8_t* header = attempt.Image() + offset;
    const std::uint8_t type = header[2];
    const std::uint16_t flags = LoadLe16(header + 3);
    // 64-bit: a packed size with its top bit set must not turn negative and
    // move the walk backwards.
    std::int64_t size = LoadLe16(header + 5);
    if ((flags & kHasAddedSize) != 0) {
      if (!attempt.LoadUpTo(offset + kFixedHeader + 4)) return false;
      size += LoadLe32(attempt.Image() + offset + kFixedHeader);
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
