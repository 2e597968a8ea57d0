// Native FLAC: the metadata blocks up to the one marked last (their bodies,
// a cover picture say, claimed unread), then the audio frames. Frames carry
// no length: a frame ends where its CRC-16 comes out right and the next frame
// header (sync code, CRC-8, the next frame or sample number) begins. The last
// frame is the one that completes the total sample count STREAMINFO gives
// (or, when the count is not known, the one after which no frame follows); it
// ends at the first point where its CRC-16 comes out right, which may fall
// short of its true end once in 65,536 bytes of frame.
#include <algorithm>
#include <array>
#include <optional>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kLargestFlac = std::uint64_t{2} << 30;
constexpr std::uint8_t kLastBlock = 0x80;
constexpr std::uint8_t kStreamInfo = 0;
constexpr std::uint8_t kInvalidBlock = 127;
constexpr std::uint64_t kMostBlocks = 1024;
constexpr std::uint64_t kLongestHeader = 16;

std::array<std::uint16_t, 256> CrcTable(std::uint16_t polynomial, int width) {
  std::array<std::uint16_t, 256> table{};
  const std::uint32_t top = 1u << (width - 1), mask = (1u << width) - 1;
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << (width - 8);
    for (int k = 0; k < 8; ++k) r = ((r & top) != 0 ? (r << 1) ^ polynomial : r << 1) & mask;
    table[i] = static_cast<std::uint16_t>(r);
  }
  return table;
}
const std::array<std::uint16_t, 256> kCrc8 = CrcTable(0x07, 8);
const std::array<std::uint16_t, 256> kCrc16 = CrcTable(0x8005, 16);

std::uint16_t Crc16Step(std::uint16_t crc, std::uint8_t byte) {
  return static_cast<std::uint16_t>((crc << 8) ^ kCrc16[(crc >> 8) ^ byte]);
}

struct StreamInfo {
  std::uint32_t maxBlock = 0;
  std::uint32_t maxFrame = 0;
  std::uint32_t channels = 0;
  std::uint32_t bitsPerSample = 0;
  std::uint64_t totalSamples = 0;  // 0: not known
};

struct FrameHeader {
  std::uint64_t length = 0;  // bytes, CRC-8 included
  std::uint64_t number = 0;  // frame number, or first sample number
  std::uint32_t blockSize = 0;
  bool variable = false;
};

// A frame header at the start of bytes whose CRC-8 matches; none also when
// fewer than kLongestHeader bytes are there.
std::optional<FrameHeader> ParseHeader(ByteView bytes) {
  const auto copy = bytes.Array<kLongestHeader>(0);
  if (!copy) return std::nullopt;
  const auto& h = *copy;
  if (h[0] != 0xFF || (h[1] & 0xFE) != 0xF8) return std::nullopt;
  FrameHeader f;
  f.variable = (h[1] & 1) != 0;
  const int sizeCode = h[2] >> 4, rateCode = h[2] & 0x0F, channels = h[3] >> 4, depth = (h[3] >> 1) & 7;
  if (sizeCode == 0 || rateCode == 15 || channels > 10 || depth == 3 || (h[3] & 1) != 0) return std::nullopt;
  // The frame or sample number, coded like UTF-8 in up to 7 bytes.
  std::uint64_t at = 4;
  int extra = 0;
  if (h[4] < 0x80) extra = 0;
  else if (h[4] >= 0xC0 && h[4] < 0xE0) extra = 1;
  else if (h[4] >= 0xE0 && h[4] < 0xF0) extra = 2;
  else if (h[4] >= 0xF0 && h[4] < 0xF8) extra = 3;
  else if (h[4] >= 0xF8 && h[4] < 0xFC) extra = 4;
  else if (h[4] >= 0xFC && h[4] < 0xFE) extra = 5;
  else if (h[4] == 0xFE) extra = 6;
  else return std::nullopt;
  if (!f.variable && extra > 5) return std::nullopt;
  f.number = extra == 0 ? h[4] : h[4] & (0x3F >> extra);
  for (int i = 1; i <= extra; ++i) {
    if ((h[at + i] & 0xC0) != 0x80) return std::nullopt;
    f.number = f.number << 6 | (h[at + i] & 0x3F);
  }
  at += 1 + extra;
  if (sizeCode == 1) f.blockSize = 192;
  else if (sizeCode <= 5) f.blockSize = 576u << (sizeCode - 2);
  else if (sizeCode == 6) f.blockSize = h[at++] + 1u;
  else if (sizeCode == 7) f.blockSize = LoadBe16(h.data() + at) + 1u, at += 2;
  else f.blockSize = 256u << (sizeCode - 8);
  if (rateCode == 12) at += 1;
  else if (rateCode == 13 || rateCode == 14) at += 2;
  std::uint8_t crc = 0;
  for (std::uint64_t i = 0; i < at; ++i) crc = static_cast<std::uint8_t>(kCrc8[crc ^ h[i]]);
  if (crc != h[at]) return std::nullopt;
  f.length = at + 1;
  return f;
}

// The metadata blocks; returns the offset of the first frame, or 0.
std::uint64_t WalkMetadata(ForwardWindow& window, StreamInfo& info) {
  std::uint64_t at = 4;
  for (std::uint64_t block = 0; block < kMostBlocks; ++block) {
    const auto h = window.At(at, 4);
    const auto kind = h ? h->Byte(0) : std::nullopt;
    const auto declared = h ? h->Be24(1) : std::nullopt;
    if (!kind || !declared) return 0;
    const std::uint8_t type = *kind & 0x7F;
    const std::uint32_t length = *declared;
    const bool last = (*kind & kLastBlock) != 0;
    if (type == kInvalidBlock || (block == 0) != (type == kStreamInfo)) return 0;
    if (type == kStreamInfo) {
      const auto s = window.At(at + 4, 34);
      if (length != 34 || !s) return 0;
      const auto maxBlock = s->Be16(2);
      const auto maxFrame = s->Be24(7);
      const auto format = s->Be16(12);  // channels, bits per sample and the top of the sample count
      const auto samples = s->Be32(14);
      if (!maxBlock || !maxFrame || !format || !samples) return 0;
      info.maxBlock = *maxBlock;
      info.maxFrame = *maxFrame;
      info.channels = ((*format >> 9) & 7) + 1u;
      info.bitsPerSample = ((*format >> 4) & 0x1F) + 1u;
      info.totalSamples = (std::uint64_t{*format & 0x0Fu} << 32) | *samples;
      if (info.maxBlock < 16) return 0;
    }
    at += 4 + length;
    if (last) return at;
  }
  return 0;
}

// Scans the frame starting at start (its header of headerLength bytes
// checked); returns its end, or 0. last says the sample count ends with it.
std::uint64_t FrameEnd(ForwardWindow& window, const StreamInfo& info, std::uint64_t start, std::uint64_t headerLength,
                       bool last, const FrameHeader& expectedNext, std::uint64_t sector) {
  // No frame is longer than its samples stored verbatim, with its headers.
  const std::uint64_t longest = info.maxFrame != 0
                                    ? info.maxFrame
                                    : std::uint64_t{info.maxBlock} * info.channels * (info.bitsPerSample + 1) / 8 + 64;
  std::uint16_t crc = 0;
  std::uint64_t firstMatch = 0;
  std::optional<ByteView> bytes;
  std::uint64_t bytesAt = 0, bytesEnd = 0;
  for (std::uint64_t p = start; p < start + longest; ++p) {
    if (p >= bytesEnd || !bytes) {
      bytesAt = p;
      bytesEnd = (p / sector + 1) * sector;
      bytes = window.At(bytesAt, bytesEnd - bytesAt);
      if (!bytes) return firstMatch;
    }
    const auto byte = bytes->Byte(p - bytesAt);
    if (!byte) return firstMatch;
    crc = Crc16Step(crc, *byte);
    const std::uint64_t end = p + 1;
    if (crc != 0 || end < start + headerLength + 3) continue;
    if (last) return end;
    if (firstMatch == 0) firstMatch = end;
    const auto next = window.At(end, kLongestHeader);
    bytes.reset();  // the window may have moved
    if (!next) continue;
    const auto header = ParseHeader(*next);
    if (header && header->variable == expectedNext.variable && header->number == expectedNext.number) return end;
  }
  // Only a stream of unknown length may end without its count completed.
  return info.totalSamples == 0 ? firstMatch : 0;
}

bool WalkFrames(CarveAttempt& attempt) {
  if (!attempt.View().Equals(0, signature::kFlac)) return false;
  ForwardWindow window(attempt);
  StreamInfo info;
  std::uint64_t at = WalkMetadata(window, info);
  if (at == 0) return false;
  const auto sector = static_cast<std::uint64_t>(attempt.Run().BytesPerSector());
  std::uint64_t frames = 0, samples = 0;
  for (;;) {
    const auto h = window.At(at, kLongestHeader);
    if (!h) return false;
    const auto header = ParseHeader(*h);
    if (!header || header->number != (header->variable ? samples : frames) || header->blockSize > info.maxBlock) {
      return false;
    }
    samples += header->blockSize;
    ++frames;
    const bool last = info.totalSamples != 0 && samples >= info.totalSamples;
    FrameHeader next;
    next.variable = header->variable;
    next.number = header->variable ? samples : frames;
    const std::uint64_t end = FrameEnd(window, info, at, header->length, last, next, sector);
    if (end == 0 || end > kLargestFlac) return false;
    at = end;
    // Without a sample count, a frame found with no next one is the last.
    const auto following = last ? std::nullopt : window.At(at, kLongestHeader);
    const auto nextHeader = following ? ParseHeader(*following) : std::nullopt;
    if (last || !nextHeader || nextHeader->number != next.number) {
      return (last || info.totalSamples == 0) && window.ClaimTo(at);
    }
  }
}

}  // namespace

void FlacCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkFrames(attempt)) attempt.Succeed();
}

}  // namespace vellumark
