// JPEG: the marker segments are skipped by their lengths up to the start of
// scan, then the entropy-coded data is searched for the end-of-image marker.
#include <algorithm>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::int64_t kSearchLimit = 20'971'520;  // 20 MiB of image walked or searched at most

std::uint16_t LoadBe16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

// Marker segments from just after FF D8; returns the offset just after the
// start-of-scan length field, or -1 when the stream is broken.
std::int64_t WalkToStartOfScan(CarveAttempt& attempt) {
  std::int64_t cursor = 2;
  for (;;) {
    if (attempt.Loaded() < cursor + 4 && !attempt.LoadOneMore()) return -1;
    if (attempt.Loaded() < cursor + 4) return -1;  // sectors smaller than a marker header
    const std::uint8_t* header = attempt.Image() + cursor;
    const std::uint8_t marker = header[1];
    const std::int64_t length = LoadBe16(header + 2);
    cursor += 4;
    if (header[0] != 0xFF) return -1;
    if (marker == 0xDA) return cursor;
    if (length <= 2) return -1;
    // No real header comes near this size; a longer chain of segments is
    // damaged or hostile data, and following it would hold as much of the
    // disk in memory as it spans.
    if (cursor >= kSearchLimit) return -1;
    // The segment body, an EXIF thumbnail with its own end marker included,
    // is passed over whole.
    if (!attempt.LoadUpTo(cursor + length - 2)) return -1;
    cursor += length - 2;
  }
}

// Searches for FF D9 (also after a run of FF) from start on, loading a
// sector at a time. A marker split across two sectors is found because each
// new search starts two bytes before the end of what was searched.
bool FindEndOfImage(CarveAttempt& attempt, std::int64_t start) {
  for (;;) {
    bool previousWasFF = false;
    for (std::int64_t i = start; i < attempt.Loaded(); ++i) {
      const std::uint8_t byte = attempt.Image()[i];
      if (byte == 0xD9 && previousWasFF) return true;
      previousWasFF = byte == 0xFF;
    }
    // Never back into the start-of-scan header itself, which the first
    // search may not have reached when it ended on a sector boundary.
    start = std::max(start, attempt.Loaded() - 2);
    if (start >= kSearchLimit) return false;
    if (!attempt.LoadOneMore()) return false;
    attempt.ProgressEvery200Sectors(attempt.Loaded());
  }
}

}  // namespace

void JpegCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthLarge);
  if (!attempt.Start()) return;
  const std::uint8_t* start = attempt.Image();
  if (attempt.Loaded() < 3 || start[0] != 0xFF || start[1] != 0xD8 || start[2] != 0xFF) return;
  const std::int64_t scan = WalkToStartOfScan(attempt);
  if (scan < 0 || !FindEndOfImage(attempt, scan)) return;
  attempt.Succeed();
}

}  // namespace vellumark
