// JPEG: the marker segments are skipped by their lengths up to the start of
// scan, then the entropy-coded data is searched for the end-of-image marker.
#include <algorithm>
#include <cstring>
#include <optional>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::int64_t kSearchLimit = 20'971'520;  // 20 MiB of image walked or searched at most

// Marker segments from just after FF D8; returns the offset just after the
// start-of-scan length field, or -1 when the stream is broken.
std::int64_t WalkToStartOfScan(CarveAttempt& attempt) {
  std::int64_t cursor = 2;
  for (;;) {
    if (attempt.Loaded() < cursor + 4 && !attempt.LoadOneMore()) return -1;
    if (attempt.Loaded() < cursor + 4) return -1;  // sectors smaller than a marker header
    const auto header = attempt.View().Bytes(cursor, 4);
    const auto prefix = header ? header->Byte(0) : std::nullopt;
    const auto marker = header ? header->Byte(1) : std::nullopt;
    const auto declared = header ? header->Be16(2) : std::nullopt;
    if (!prefix || !marker || !declared) return -1;
    const std::int64_t length = *declared;
    cursor += 4;
    if (*prefix != 0xFF) return -1;
    if (*marker == 0xDA) return cursor;
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

// Image bytes the search keeps: it needs none it has looked at already.
constexpr std::int64_t kKeptSearchBytes = 65536;

// Whether the bytes from from on hold D9 right after FF, the byte before
// from counting as FF when previousWasFF says so; previousWasFF is left
// telling whether the last byte is FF.
bool HasEndMarker(ByteView bytes, std::uint64_t from, bool& previousWasFF) {
  if (previousWasFF && bytes.Byte(from) == 0xD9) return true;
  previousWasFF = false;
  const std::uint64_t end = bytes.Size();
  for (auto rest = bytes.From(from); rest; rest = bytes.From(from)) {
    const void* found = std::memchr(rest->Data(), 0xFF, rest->Size());
    if (found == nullptr) return false;
    from += static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(found) - rest->Data()) + 1;
    if (from == end) {
      previousWasFF = true;
      return false;
    }
    if (bytes.Byte(from) == 0xD9) return true;
  }
  return false;
}

// Adds the next sectors searched whole to the stretch of them.
void Extend(std::optional<CarveMemory::SearchedStretch>& stretch, const CarveMemory::SearchedStretch& next) {
  if (!stretch) {
    stretch = next;
    return;
  }
  stretch->last = next.last;
  stretch->freeSectors += next.freeSectors;
  stretch->lastByte = next.lastByte;
}

// Searches for FF D9 (also after a run of FF) from image offset start on,
// loading a sector at a time, until kSearchLimit bytes of image lie behind
// the search. Every byte is looked at once; whether the byte before was FF
// is carried over the edge of a sector, so a marker split across two
// sectors is found.
//
// A search that fails leaves in the run's memory the stretch of sectors it
// went through whole. The hit below this one searches the same sectors after
// its own: when its search reaches that stretch, it passes it unread instead
// of reading it once more for every hit under it (and claims it should it
// find its end beyond). The limit counts the stretch's sectors as if read.
bool FindEndOfImage(CarveAttempt& attempt, std::int64_t start) {
  CarveMemory& memory = attempt.Run().memory;
  const std::int64_t sectorBytes = attempt.Run().BytesPerSector();
  std::int64_t dropped = 0;  // image bytes before attempt.View(): dropped, or passed unread
  std::int64_t next = start;
  bool previousWasFF = false;
  std::optional<CarveMemory::SearchedStretch> whole;  // the sectors searched whole, for the memory
  for (;;) {
    const std::int64_t loaded = dropped + attempt.Loaded();
    if (next < loaded && HasEndMarker(attempt.View(), next - dropped, previousWasFF)) return true;
    next = loaded;
    // The search gives up once the image but for its last two bytes holds
    // kSearchLimit bytes (at once when the scan starts beyond that).
    if (std::max(start, loaded - 2) >= kSearchLimit) break;

    const auto& known = memory.JpegSearched();
    if (known && attempt.NextFreeSector() == known->first && !(previousWasFF && known->firstByte == 0xD9)) {
      Extend(whole, *known);
      // The limit stops the search after this many more sectors.
      const std::int64_t toLimit = (kSearchLimit + 2 - loaded + sectorBytes - 1) / sectorBytes;
      if (toLimit <= known->freeSectors) break;
      attempt.DropImageFront(attempt.Loaded());
      attempt.PassUnclaimed(known->last);
      dropped = next = loaded + known->freeSectors * sectorBytes;
      previousWasFF = known->lastByte == 0xFF;
      continue;
    }

    if (!attempt.LoadOneMore()) break;
    const auto firstByte = attempt.View().Byte(attempt.Loaded() - sectorBytes);
    const auto lastByte = attempt.View().Byte(attempt.Loaded() - 1);
    if (!firstByte || !lastByte) break;
    const std::int64_t at = attempt.Position() / sectorBytes - 1;
    Extend(whole, {at, at, 1, *firstByte, *lastByte});
    attempt.ProgressEvery200Sectors(dropped + attempt.Loaded());
    if (attempt.Loaded() > kKeptSearchBytes) {
      dropped += attempt.Loaded() - sectorBytes;
      attempt.DropImageFront(attempt.Loaded() - sectorBytes);
    }
  }
  if (whole) memory.SetJpegSearched(*whole);
  return false;
}

}  // namespace

void JpegCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthLarge);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(0, signature::kJpeg)) return;
  const std::int64_t scan = WalkToStartOfScan(attempt);
  if (scan < 0 || !FindEndOfImage(attempt, scan)) return;
  attempt.Succeed();
}

}  // namespace vellumark
