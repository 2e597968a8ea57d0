#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

// A GIF: header, screen descriptor (packed byte given), colour table, blocks, trailer.
Bytes Gif(std::uint8_t screenPacked, const Bytes& blocks, const char* version = "GIF89a") {
  const Bytes table(screenPacked & 0x80 ? 3u << ((screenPacked & 7) + 1) : 0u, 0x33);
  return Cat({Bytes(version, version + 6), {16, 0, 16, 0, screenPacked, 0, 0}, table, blocks, {0x3B}});
}
// Sub-blocks holding n bytes (255 at most each), then the empty one.
Bytes SubBlocks(std::size_t n) {
  Bytes out;
  for (; n > 0; n -= std::min<std::size_t>(n, 255)) {
    const std::size_t k = std::min<std::size_t>(n, 255);
    out.push_back(std::uint8_t(k));
    out.insert(out.end(), k, 0x5A);
  }
  return out.push_back(0), out;
}
Bytes Image(std::size_t data, std::uint8_t packed = 0, std::uint8_t codeSize = 8) {
  const Bytes table(packed & 0x80 ? 3u << ((packed & 7) + 1) : 0u, 0x44);
  return Cat({{0x2C, 0, 0, 0, 0, 16, 0, 16, 0, packed}, table, {codeSize}, SubBlocks(data)});
}
Bytes Extension(std::uint8_t label, std::size_t data) { return Cat({{0x21, label}, SubBlocks(data)}); }

TEST(GifCarverSynthetic, BlockWalk) {
  const struct { const char* name; Bytes file; bool claims; } cases[] = {
      {"global table, one image", Gif(0x87, Image(3000)), true},
      {"87a, no global table", Gif(0x00, Image(900), "GIF87a"), true},
      {"local table of 256 colours", Gif(0x00, Image(600, 0x87)), true},
      {"extensions of any label", Gif(0x80, Cat({Extension(0xF9, 4), Extension(0xFF, 11), Extension(0x42, 700),
                                                 Image(500), Extension(0xFE, 0)})), true},
      {"200 frames: the walk cuts back", Gif(0x87, [] { Bytes b; for (int i = 0; i < 200; ++i) b = Cat({b,
                                             Extension(0xF9, 4), Image(300)}); return b; }()), true},
      {"code size 11", Gif(0x00, Image(600, 0, 11)), true},
      {"code size 12", Gif(0x00, Image(600, 0, 12)), false},
      {"code size 0", Gif(0x00, Image(600, 0, 0)), false},
      {"unknown block 0x2D", Gif(0x00, Cat({Image(600), {0x2D}})), false},
      {"GIF88a", Gif(0x00, Image(600), "GIF88a"), false},
  };
  for (const auto& c : cases) EXPECT_EQ(Carve(GifCarver, c.file), Span(2, c.claims ? SectorsOf(c.file) : 0)) << c.name;
  // The trailer as the last byte of a sector and as the first: the walk must
  // load no sector after it.
  for (const std::size_t data : {483u, 484u, 485u}) {  // 511, 512, 513 bytes
    const Bytes f = Gif(0x00, Image(data));
    EXPECT_EQ(Carve(GifCarver, f), Span(2, SectorsOf(f))) << f.size() << " bytes";
  }
}

TEST(GifCarverRealFiles, Convert87a89aAndAnimated) {
  VELLUMARK_REQUIRE_TOOL("/usr/bin/convert");
  TempDir dir;
  const std::string convert = "/usr/bin/convert ";
  const Bytes old = Made(dir, convert + "-size 64x48 -seed 1 plasma:fractal GIF87:", "a.gif");
  const Bytes still = Made(dir, convert + "-size 400x300 -seed 1 plasma:fractal ", "b.gif");
  const Bytes animated =
      Made(dir, convert + "-delay 10 -size 120x90 xc:red -seed 1 plasma:fractal gradient: -loop 0 ", "c.gif");
  ASSERT_EQ(std::string(old.begin(), old.begin() + 6), "GIF87a");
  ASSERT_EQ(std::string(still.begin(), still.begin() + 6), "GIF89a");
  ASSERT_GT(still.size(), 61u * 512);  // longer than the image the walk keeps
  for (const Bytes* f : {&old, &still, &animated}) {
    SCOPED_TRACE(f == &old ? "87a" : f == &still ? "89a, large" : "animated");
    EXPECT_EQ(ClassifySector(f->data(), f->size()), code::kGif);
    ASSERT_EQ(f->back(), 0x3B);
    ExpectCarveProtocol(GifCarver, *f, Head(*f, f->size() - 1));  // the trailer cut off by the source's end
    for (const std::size_t cut : {std::size_t{13}, f->size() / 3, f->size() / 2, f->size() - 2}) {
      EXPECT_EQ(Carve(GifCarver, Head(*f, cut), 0), Runs{}) << "cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace vellumark
