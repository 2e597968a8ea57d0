#pragma once

#include <cstdint>
#include <optional>

// The four-byte header of an MPEG audio frame (MPEG 1, 2 and 2.5, layers I
// to III), shared by the classifier, which looks for two frames in a row at a
// sector's start, and the MP3 carver, which walks them.
namespace vellumark {

struct MpegAudioFrame {
  std::uint8_t version = 0;     // 0: 2.5, 2: 2, 3: 1 (the header's two bits)
  std::uint8_t layer = 0;       // 1: III, 2: II, 3: I (the header's two bits)
  std::uint8_t sampleRate = 0;  // the header's index, 0..2
  std::int32_t length = 0;      // bytes, the header and padding included

  // Whether a following frame belongs to the same stream: a stream keeps
  // its version, layer and sample rate; the bit rate may change (VBR).
  bool SameStream(const MpegAudioFrame& other) const {
    return version == other.version && layer == other.layer && sampleRate == other.sampleRate;
  }
};

// The frame whose header starts at p, or none when a field holds a reserved
// value. Free-format frames (bit-rate index 0) have no length in the header
// and are not taken.
inline std::optional<MpegAudioFrame> ParseMpegAudioHeader(const std::uint8_t* p) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return std::nullopt;
  MpegAudioFrame frame;
  frame.version = static_cast<std::uint8_t>((p[1] >> 3) & 3);
  frame.layer = static_cast<std::uint8_t>((p[1] >> 1) & 3);
  const int bitRateIndex = p[2] >> 4;
  frame.sampleRate = static_cast<std::uint8_t>((p[2] >> 2) & 3);
  const int padding = (p[2] >> 1) & 1;
  if (frame.version == 1 || frame.layer == 0 || bitRateIndex == 0 || bitRateIndex == 15 || frame.sampleRate == 3 ||
      (p[3] & 3) == 2) {
    return std::nullopt;
  }
  // Kilobits per second by bit-rate index 1..14.
  static constexpr std::int16_t kRates[5][14] = {
      {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // MPEG 1, layer I
      {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // MPEG 1, layer II
      {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // MPEG 1, layer III
      {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // MPEG 2 and 2.5, layer I
      {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // MPEG 2 and 2.5, layers II and III
  };
  static constexpr std::int32_t kSampleRates[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  const bool mpeg1 = frame.version == 3;
  const int table = mpeg1 ? 3 - frame.layer : (frame.layer == 3 ? 3 : 4);
  const std::int32_t bitRate = kRates[table][bitRateIndex - 1] * 1000;
  const std::int32_t sampleRate = kSampleRates[frame.version][frame.sampleRate];
  if (frame.layer == 3) {
    frame.length = (12 * bitRate / sampleRate + padding) * 4;
  } else if (frame.layer == 1 && !mpeg1) {
    frame.length = 72 * bitRate / sampleRate + padding;  // half the samples per frame
  } else {
    frame.length = 144 * bitRate / sampleRate + padding;
  }
  return frame;
}

}  // namespace vellumark
