// Ogg (Vorbis, Opus, Theora, Speex, FLAC in Ogg): the pages from the first
// beginning-of-stream page until every logical stream begun has ended. Each
// page is read whole and its CRC checked, and each stream's pages must come
// in sequence, so a page of another file or of stale data ends the walk as a
// failure rather than as a longer file.
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "common/byte_order.h"
#include "rescue/carve_services.h"
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
std::uint32_t PageCrc(const std::uint8_t* page, std::uint64_t size) {
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
  for (std::uint64_t i = 0; i < size; ++i) {
    const std::uint8_t byte = i >= 22 && i < 26 ? 0 : page[i];
    crc = (crc << 8) ^ kTable[(crc >> 24) ^ byte];
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
    const std::uint8_t* header = window.At(at, kPageHeader);
    if (header == nullptr || std::memcmp(header, "OggS", 4) != 0 || header[4] != 0) return false;
    const std::uint8_t flags = header[5];
    const std::uint32_t serial = LoadLe32(header + 14), sequence = LoadLe32(header + 18);
    const std::uint32_t crc = LoadLe32(header + 22);
    const std::uint8_t segments = header[26];
    if ((flags & ~(kContinued | kBeginning | kEnd)) != 0) return false;
    const std::uint8_t* table = window.At(at, kPageHeader + segments);
    if (table == nullptr) return false;
    std::uint64_t size = kPageHeader + segments;
    for (std::uint8_t i = 0; i < segments; ++i) size += table[kPageHeader + i];
    const std::uint8_t* page = window.At(at, size);
    if (page == nullptr || PageCrc(page, size) != crc) return false;

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
