// Ogg (Vorbis, Opus, Theora, Speex, FLAC in Ogg): the pages from the first
// beginning-of-stream page until every logical stream begun has ended. Each
// page is read whole and its CRC checked, and each stream's pages must come
// in sequence, so a page of another file or of stale data ends the walk as a
// failure rather than as a longer file.
#include <algorithm>
#include <array>
#include <vector>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestOgg = std::uint64_t{4} << 30;
constexpr std::uint64_t kPageHeader = 27;
constexpr std::uint8_t kContinued = 0x01;
constexpr std::uint8_t kBeginning = 0x02;
constexpr std::uint8_t kEnd = 0x04;
constexpr std::size_t kMostStreams = 64;

// The Ogg CRC: polynomial 0x04C11DB7, most significant bit first, starting
// at zero, over the page with its CRC field taken as zeros.
std::uint32_t PageCrc(ByteView page) {
  static const std::array<std::uint32_t, 256> kTable = [] {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t r = i << 24;
      for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
      table[i] = r;
    }
    return table;
  }();
  std::uint32_t crc = 0;
  std::uint64_t i = 0;
  for (const std::uint8_t stored : page) {
    const std::uint8_t byte = i >= 22 && i < 26 ? 0 : stored;
    crc = (crc << 8) ^ kTable[(crc >> 24) ^ byte];
    ++i;
  }
  return crc;
}

struct Stream {
  std::uint32_t serial;
  std::uint32_t nextSequence;
  bool ended;
};

bool WalkPages(CarveAttempt& attempt) {
  ForwardWindow window(attempt);
  std::vector<Stream> streams;
  std::size_t open = 0;
  std::uint64_t at = 0;
  for (;;) {
    const auto header = window.At(at, kPageHeader);
    if (!header || !header->Equals(0, signature::kOgg) || header->Byte(4) != 0) return false;
    const auto flagsField = header->Byte(5), segmentsField = header->Byte(26);
    const auto serialField = header->Le32(14), sequenceField = header->Le32(18), crc = header->Le32(22);
    if (!flagsField || !segmentsField || !serialField || !sequenceField || !crc) return false;
    const std::uint8_t flags = *flagsField, segments = *segmentsField;
    const std::uint32_t serial = *serialField, sequence = *sequenceField;
    if ((flags & ~(kContinued | kBeginning | kEnd)) != 0) return false;
    const auto table = window.At(at, kPageHeader + segments);
    const auto lacing = table ? table->From(kPageHeader) : std::nullopt;
    if (!lacing) return false;
    std::uint64_t size = kPageHeader + segments;
    for (const std::uint8_t length : *lacing) size += length;
    const auto page = window.At(at, size);
    if (!page || PageCrc(*page) != *crc) return false;

    auto stream = std::find_if(streams.begin(), streams.end(), [&](const Stream& s) { return s.serial == serial; });
    if ((flags & kBeginning) != 0) {
      if (stream != streams.end() || sequence != 0 || streams.size() == kMostStreams) return false;
      streams.push_back({serial, 0, false});
      stream = streams.end() - 1;
      ++open;
    }
    if (stream == streams.end() || stream->ended || stream->nextSequence != sequence) return false;
    ++stream->nextSequence;
    if ((flags & kEnd) != 0) {
      stream->ended = true;
      --open;
    }
    at += size;
    if (at > kLargestOgg) return false;
    if (open == 0) return window.ClaimTo(at);
    attempt.ProgressEvery200Sectors(static_cast<std::int64_t>(window.Covered()));
  }
}

}  // namespace

void OggCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkPages(attempt)) attempt.Succeed();
}

}  // namespace vellumark
