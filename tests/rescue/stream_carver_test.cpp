#include <algorithm>
#include <cstring>
#include <string>

#include "common/byte_order.h"
#include "rescue/measured_carver_fixture.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

const std::string kFfmpeg = "ffmpeg -nostdin -v error -f lavfi -i ";
const std::string kVideo = "testsrc=duration=2:size=64x48:rate=10", kSound = "sine=frequency=440:duration=3";

// Where each Ogg page starts, and where the last one ends.
std::vector<std::size_t> OggPages(const Bytes& f, std::size_t* end = nullptr) {
  std::vector<std::size_t> pages;
  std::size_t at = 0;
  while (at + 27 <= f.size() && std::memcmp(&f[at], "OggS", 4) == 0) {
    pages.push_back(at);
    std::size_t size = 27 + f[at + 26];
    for (std::size_t i = 0; i < f[at + 26]; ++i) size += f[at + 27 + i];
    at += size;
  }
  if (end != nullptr) *end = at;
  return pages;
}

TEST(OggCarverRealFiles, VorbisOpusAndTheoraWithVorbis) {
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const Bytes vorbis = Made(dir, kFfmpeg + kSound + " -c:a libvorbis ", "a.ogg");
  const Bytes opus = Made(dir, kFfmpeg + kSound + " -c:a libopus ", "a.opus");
  const Bytes both = Made(dir, kFfmpeg + kVideo + " -f lavfi -i " + kSound + " -t 2 -c:v libtheora -c:a libvorbis ",
                          "a.ogv");
  for (const Bytes* f : {&vorbis, &opus, &both}) {
    SCOPED_TRACE(f == &vorbis ? "vorbis" : f == &opus ? "opus" : "theora and vorbis");
    std::size_t end = 0;
    ASSERT_GT(OggPages(*f, &end).size(), 3u);
    ASSERT_EQ(end, f->size());
    ExpectMeasuredFile(OggCarver, code::kOgg, *f);
  }
  // Two logical streams: the walk ends where the second of them ends, not
  // where the first does, and a file chained after it is no part of it.
  const std::vector<std::size_t> pages = OggPages(both);
  const Bytes chained = Cat({both, vorbis});
  EXPECT_EQ(Carve(OggCarver, chained), Span(2, SectorsOf(both)));
  // A page body changed (CRC no longer matches), a page left out (sequence
  // broken), a page's flags with an unknown bit: none is claimed.
  const std::size_t third = pages[2], fourth = pages[3];
  const struct { const char* name; Bytes file; } broken[] = {
      {"a byte of the third page", With(both, fourth - 1, {std::uint8_t(both[fourth - 1] ^ 1)})},
      {"the third page left out", Cat({Head(both, third), Bytes(both.begin() + std::ptrdiff_t(fourth), both.end())})},
      {"version 1 in the third page", With(both, third + 4, {1})},
  };
  for (const auto& b : broken) EXPECT_EQ(Carve(OggCarver, b.file), Runs{}) << b.name;
}

// The first frame's offset: after the metadata block marked last.
std::size_t FirstFrame(const Bytes& f) {
  std::size_t at = 4;
  for (;;) {
    const bool last = (f[at] & 0x80) != 0;
    at += 4 + (std::size_t{f[at + 1]} << 16 | std::size_t{f[at + 2]} << 8 | f[at + 3]);
    if (last) return at;
  }
}

TEST(FlacCarverRealFiles, FfmpegAndSox) {
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  VELLUMARK_REQUIRE_TOOL("sox");
  TempDir dir;
  const Bytes ffmpeg = Made(dir, kFfmpeg + kSound + " -c:a flac ", "a.flac");
  const Bytes sox = Made(dir, "sox -n -r 44100 -c 2 ", "b.flac", " synth 2 sine 440 sine 660");
  for (const Bytes* f : {&ffmpeg, &sox}) {
    SCOPED_TRACE(f == &ffmpeg ? "ffmpeg" : "sox");
    ASSERT_GT(f->size(), 8192u);
    ExpectMeasuredFile(FlacCarver, code::kFlac, *f);
  }
  // STREAMINFO's total sample count: bits 4..39 from byte 21 of the file.
  const Bytes unknownCount = With(With(sox, 21, {std::uint8_t(sox[21] & 0xF0)}), 22, {0, 0, 0, 0});
  const std::size_t first = FirstFrame(sox), middle = first + (sox.size() - first) / 2;
  const struct { const char* name; Bytes file; std::int64_t sectors; } cases[] = {
      {"sample count not known: to the last frame", unknownCount, SectorsOf(sox)},
      {"a byte inside a middle frame", With(sox, middle, {std::uint8_t(sox[middle] ^ 0x10)}), 0},
      {"the first frame's sync code", With(sox, first, {0xFE}), 0},
      {"a second STREAMINFO first", With(sox, 4, {0x04}), 0},
      {"sample count beyond the frames", With(sox, 25, {0xFF}), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Carve(FlacCarver, c.file), Span(2, c.sectors)) << c.name;
}

TEST(MatroskaCarverRealFiles, KnownAndUnknownSegmentSizes) {
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const Bytes mkv = Made(dir, kFfmpeg + kVideo + " -c:v mpeg4 ", "a.mkv");
  const Bytes webm = Made(dir, kFfmpeg + kVideo + " -f lavfi -i " + kSound + " -t 2 -c:v libvpx -c:a libvorbis ",
                          "a.webm");
  // Written to a pipe, ffmpeg cannot go back to fill in the Segment's size;
  // as a live WebM, its Clusters have no size either.
  const Bytes piped = Made(dir, kFfmpeg + kVideo + " -c:v mpeg4 -f matroska - | cat > ", "p.mkv");
  const Bytes live = Made(dir, kFfmpeg + kVideo + " -c:v libvpx -live 1 -f webm - | cat > ", "l.webm");
  // ffmpeg writes the Segment's size in eight bytes; unknown, all value bits are set.
  const auto sizeUnknown = [](const Bytes& f) {
    const std::size_t at = 4 + 1 + (f[4] & 0x7F) + 4;
    return f[at] == 0x01 && std::all_of(f.begin() + std::ptrdiff_t(at) + 1, f.begin() + std::ptrdiff_t(at) + 8,
                                        [](std::uint8_t b) { return b == 0xFF; });
  };
  EXPECT_FALSE(sizeUnknown(mkv));
  EXPECT_TRUE(sizeUnknown(piped));
  EXPECT_TRUE(sizeUnknown(live));
  for (const Bytes* f : {&mkv, &webm, &piped, &live}) {
    SCOPED_TRACE(f == &mkv ? "mkv" : f == &webm ? "webm" : f == &piped ? "piped mkv" : "live webm");
    ASSERT_GT(f->size(), 1024u);
    ExpectMeasuredFile(MatroskaCarver, code::kMatroska, *f);
  }
  const std::size_t docType = 4 + 1 + 0x13;  // "matroska" in ffmpeg's EBML header
  ASSERT_EQ(std::string(piped.begin() + docType, piped.begin() + docType + 8), "matroska");
  const struct { const char* name; Bytes file; std::int64_t sectors; } cases[] = {
      {"unknown size, a file after it", Cat({piped, mkv}), SectorsOf(piped)},
      {"document type matroskb", With(mkv, docType + 7, {'b'}), 0},
      {"no Segment after the header", With(mkv, 4 + 1 + (mkv[4] & 0x7F), {0x18, 0x53, 0x80, 0x66}), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Carve(MatroskaCarver, c.file), Span(2, c.sectors)) << c.name;

  // The Segment's size counts from its first child: a file whose last bytes
  // fall just into a new sector (a Void element made to end 4 bytes into it)
  // keeps that sector.
  const std::size_t sizeAt = 4 + 1 + (mkv[4] & 0x7F) + 4 + 1;  // the seven value bytes of the Segment's size
  std::uint64_t segment = 0;
  for (std::size_t i = 0; i < 7; ++i) segment = segment << 8 | mkv[sizeAt + i];
  ASSERT_EQ(sizeAt + 7 + segment, mkv.size());
  const std::size_t voidBytes = static_cast<std::size_t>(SectorsOf(mkv) + 1) * 512 + 4 - mkv.size();
  const std::size_t voidSize = voidBytes - 3;  // after the ID and a two-byte size
  Bytes tail = Cat({mkv, {0xEC, static_cast<std::uint8_t>(0x40 | voidSize >> 8), static_cast<std::uint8_t>(voidSize)},
                    Bytes(voidSize, 0)});
  for (std::size_t i = 0; i < 7; ++i) tail[sizeAt + i] = static_cast<std::uint8_t>((segment + voidBytes) >> (8 * (6 - i)));
  ASSERT_EQ(tail.size() % 512, 4u);
  EXPECT_EQ(Carve(MatroskaCarver, tail), Span(2, SectorsOf(tail))) << "a Void element ending 4 bytes into a sector";
}

}  // namespace
}  // namespace vellumark
