// bzip2: the stream is decompressed with libbz2 (Bzip2End), which finds
// where it ends and checks each block's CRC and the stream's combined CRC;
// a stream that does not decompress or check claims nothing. The compressed
// blocks cannot be skipped, so every sector is read, one at a time, and the
// image is cut back behind. Decompressing is most of what a bzip2 stream
// costs the carving: a stream measured ahead on the second core (see
// MeasureAhead) is claimed from that measure where it lies in sectors no
// other file took, which are the very bytes the walk would have read.
#include "formats/bzip2/bzip2_end.h"
#include "formats/file_signatures.h"
#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"
#include "rescue/measure_ahead.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestBzip2 = 1'073'741'824;

bool WalkStream(CarveAttempt& attempt) {
  Bzip2End end;
  std::int64_t at = 0;  // the next byte to decompress, in the image
  for (;;) {
    if (at == attempt.Loaded()) {
      if (end.Length() >= kLargestBzip2 || !attempt.LoadOneMore()) return false;
    }
    const auto input = attempt.View().From(at);
    if (!input) return false;
    const std::int64_t before = end.Length();
    const Bzip2End::State state = end.Feed(*input);
    at += end.Length() - before;
    if (state == Bzip2End::State::Done) return true;
    if (state == Bzip2End::State::Broken) return false;
    at = attempt.CutBack(at);
  }
}

// The length measured ahead for the stream at hitOffset, when its sectors
// after the hit are all free and none is known unreadable: the walk would
// read exactly those, one after another.
std::optional<std::int64_t> LengthMeasuredAhead(RescueRun& run, std::int64_t hitOffset) {
  if (run.measureAhead == nullptr) return std::nullopt;
  const auto length = run.measureAhead->Take(hitOffset);
  if (!length || *length >= kLargestBzip2) return std::nullopt;
  const std::int64_t bytesPerSector = run.BytesPerSector();
  const std::int64_t first = hitOffset / bytesPerSector;
  const std::int64_t last = (hitOffset + *length - 1) / bytesPerSector;
  if (last > run.LastSourceSector() || run.source.HasUnreadableIn(hitOffset, (last - first + 1) * bytesPerSector)) {
    return std::nullopt;
  }
  for (std::int64_t sector = first + 1; sector <= last; ++sector) {
    if (run.claims.IsSectorClaimed(sector)) return std::nullopt;
  }
  return length;
}

}  // namespace

void Bzip2Carver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(0, signature::kBzip2)) return;
  if (const auto length = LengthMeasuredAhead(run, hitOffset)) {
    // A sector the drive refuses now is zeros in the image, which the walk
    // would have failed on.
    if (attempt.LoadUpTo(*length) && attempt.UnreadableSectors().empty()) attempt.Succeed();
    return;
  }
  if (WalkStream(attempt)) attempt.Succeed();
}

}  // namespace vellumark
