#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

// MPEG audio frames: a header, then filler up to the length it gives.
Bytes Frame(Bytes header, std::size_t length) { return header.resize(length, 0x5A), header; }
Bytes Frames(int n, const Bytes& header, std::size_t length) {
  Bytes out;
  for (int i = 0; i < n; ++i) out = Cat({out, Frame(header, length)});
  return out;
}
const Bytes kLayer1 = {0xFF, 0xFF, 0x84, 0x00};          // MPEG 1 layer I, 256 kbit/s, 48 kHz: 256 bytes
const Bytes kLayer3 = {0xFF, 0xFB, 0x90, 0x00};          // MPEG 1 layer III, 128 kbit/s, 44.1 kHz: 417 bytes
const Bytes kLayer3Padded = {0xFF, 0xFB, 0x92, 0x00};    // the same, padded: 418 bytes
const Bytes kLayer3At32k = {0xFF, 0xFB, 0x98, 0x00};     // 32 kHz: 576 bytes, another stream
const Bytes kMpeg2Layer3 = {0xFF, 0xF3, 0x40, 0x00};     // MPEG 2 layer III, 32 kbit/s, 22.05 kHz: 104 bytes

// An ID3v2 tag: version, flags, body of size bytes (synchsafe), and the footer when flagged.
Bytes Id3v2(std::uint8_t version, std::uint8_t flags, std::uint32_t size) {
  const Bytes synchsafe = {std::uint8_t(size >> 21 & 0x7F), std::uint8_t(size >> 14 & 0x7F),
                           std::uint8_t(size >> 7 & 0x7F), std::uint8_t(size & 0x7F)};
  const Bytes footer = flags & 0x10 ? Cat({{'3', 'D', 'I', version, 0, flags}, synchsafe}) : Bytes{};
  return Cat({{'I', 'D', '3', version, 0, flags}, synchsafe, Bytes(size, 0), footer});
}
Bytes Id3v1() { return Cat({{'T', 'A', 'G'}, Bytes(125, 0x20)}); }
// An APE tag with header and footer around items bytes.
Bytes Ape(std::uint32_t items) {
  const auto part = [&](std::uint32_t flags) {
    return Cat({{'A', 'P', 'E', 'T', 'A', 'G', 'E', 'X'}, Le(2000, 4), Le(items + 32, 4), Le(1, 4), Le(flags, 4),
                Bytes(8, 0)});
  };
  return Cat({part(0xA0000000), Bytes(items, 0x61), part(0x80000000)});
}

TEST(Mp3CarverSynthetic, FramesAndTags) {
  const Bytes frames = Frames(10, kLayer1, 256);  // 2,560 bytes: ends on a sector boundary
  const Bytes ape = Ape(700);
  // sectors: claimed from the hit on (-1: all of the file's).
  const struct { const char* name; Bytes file; std::int64_t sectors; std::int64_t tail = 40; } cases[] = {
      {"frames ending on a sector boundary", frames, -1},
      {"padded and unpadded frames", Cat({Frames(3, kLayer3, 417), Frames(3, kLayer3Padded, 418)}), -1},
      {"bit rate changes (VBR)", Cat({Frames(3, kLayer3, 417), Frames(3, {0xFF, 0xFB, 0x50, 0}, 208)}), -1},
      {"MPEG 2 layer III", Frames(30, kMpeg2Layer3, 104), -1},
      {"ID3v1 after the frames", Cat({frames, Id3v1()}), -1},
      {"ID3v1 cut off by the source's end", Head(Cat({Frames(6, kLayer3, 417), Id3v1()}), 2560), 5, 0},
      {"APE and ID3v1 after the frames", Cat({frames, ape, Id3v1()}), -1},
      {"APE footer alone is not taken", Cat({frames, Bytes(ape.end() - 32, ape.end())}), 5},
      {"ID3v2.4 tag", Cat({Id3v2(4, 0, 3000), frames}), -1},
      {"ID3v2.4 tag with footer", Cat({Id3v2(4, 0x10, 3000), frames}), -1},
      {"ID3v2.3 tag", Cat({Id3v2(3, 0x40, 3000), frames}), -1},
      {"ID3v2.3 with the footer flag", Cat({Id3v2(3, 0x10, 3000), frames}), 0},
      {"ID3v2.5", Cat({Id3v2(5, 0, 3000), frames}), 0},
      {"ID3v2 size byte with its top bit", With(Cat({Id3v2(4, 0, 3000), frames}), 7, {0x80}), 0},
      {"ID3v2 tag and nothing after it", Id3v2(3, 0, 3000), 0},
      {"one frame", Frame(kLayer1, 256), 0},
      {"another sample rate ends the stream", Cat({frames, Frames(4, kLayer3At32k, 576)}), 5},
      {"a broken header ends the stream", Cat({frames, With(frames, 256, {0xFF, 0xFF, 0xF4})}), 6},
      // A frame runs past 2,048 (a frame ending inside the last sector would
      // be completed by whatever the rest of the sector holds).
      {"a frame cut off by the source's end", Head(Frames(6, kLayer3, 417), 2048), 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(Mp3Carver, c.file, c.tail), Span(2, c.sectors < 0 ? SectorsOf(c.file) : c.sectors)) << c.name;
  }
  ExpectMiddleUnread(Mp3Carver, Cat({Id3v2(4, 0, 300'000), frames}));
}

// A sector boundary inside a frame near the end, from ffprobe's list of the
// frames: a copy cut there runs into the source's end in the middle of it.
std::size_t CutInsideAFrame(const std::string& path) {
  const std::string list =
      RunOutput("ffprobe -v error -select_streams a -show_entries packet=pos,size -of compact=p=0 '" + path + "'");
  std::vector<std::pair<std::size_t, std::size_t>> frames;  // position, size
  for (std::size_t at = list.find("size="); at != std::string::npos; at = list.find("size=", at + 1)) {
    const std::size_t pos = list.find("pos=", at);
    if (pos == std::string::npos) break;
    frames.emplace_back(std::stoul(list.substr(pos + 4)), std::stoul(list.substr(at + 5)));
  }
  for (auto it = frames.rbegin(); it != frames.rend(); ++it) {
    const std::size_t boundary = (it->first / 512 + 1) * 512;
    if (boundary < it->first + it->second) return boundary;
  }
  return 0;
}

TEST(Mp3CarverRealFiles, LameAndFfmpegWithAndWithoutTags) {
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  VELLUMARK_REQUIRE_TOOL("lame");
  VELLUMARK_REQUIRE_TOOL("ffprobe");
  TempDir dir;
  const std::string in = "cd '" + dir.path().string() + "' && ";
  ASSERT_EQ(test::Run(in + "ffmpeg -nostdin -v error -f lavfi -i sine=frequency=440:duration=3 a.wav"), 0);
  const std::string ffmpeg = in + "ffmpeg -nostdin -v error -i a.wav ";
  const struct { const char* name; const char* path; Bytes file; FileTypeCode code; bool id3v1; } cases[] = {
      {"lame, no tag", "plain.mp3", Made(dir, in + "lame --quiet -b 128 a.wav ", "plain.mp3"), code::kMpegAudio, false},
      {"lame, ID3v2", "v2.mp3", Made(dir, in + "lame --quiet --tt Title --id3v2-only a.wav ", "v2.mp3"),
       code::kMp3Id3, false},
      {"lame, ID3v1", "v1.mp3", Made(dir, in + "lame --quiet --tt Title --id3v1-only a.wav ", "v1.mp3"),
       code::kMpegAudio, true},
      {"ffmpeg, ID3v2.4 and ID3v1, MPEG 2", "ff.mp3",
       Made(dir, ffmpeg + "-ar 22050 -c:a libmp3lame -b:a 32k -metadata title=x -write_id3v1 1 ", "ff.mp3"),
       code::kMp3Id3, true},
      {"ffmpeg, no tag", "ff0.mp3", Made(dir, ffmpeg + "-c:a libmp3lame -b:a 64k -id3v2_version 0 ", "ff0.mp3"),
       code::kMpegAudio, false},
      {"ffmpeg, layer II", "a.mp2", Made(dir, ffmpeg + "-c:a mp2 -b:a 64k -ar 48000 ", "a.mp2"), code::kMpegAudio,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes& f = c.file;
    ASSERT_GT(f.size(), 4096u);
    ASSERT_EQ(std::string(f.end() - 128, f.end() - 125) == "TAG", c.id3v1);
    EXPECT_EQ(ClassifySector(f.data(), f.size()), c.code);
    // Cut inside a frame: the source's end shows the file is not whole.
    const std::size_t cut = CutInsideAFrame(dir / c.path);
    ASSERT_GT(cut, f.size() / 2);
    ExpectCarveProtocol(Mp3Carver, f, Head(f, cut));
    if (c.code == code::kMp3Id3) {
      EXPECT_EQ(Carve(Mp3Carver, Head(f, 30), 0), Runs{}) << "cut inside the ID3v2 tag";
    }
  }
}

}  // namespace
}  // namespace vellumark
