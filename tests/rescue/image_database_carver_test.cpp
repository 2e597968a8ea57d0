#include <string>

#include "common/byte_order.h"
#include "rescue/measured_carver_fixture.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

const std::string kConvert = "/usr/bin/convert -size 300x200 -seed 1 plasma:fractal ";

TEST(TiffCarverRealFiles, BothByteOrdersPagesAndTiles) {
  VELLUMARK_REQUIRE_TOOL("/usr/bin/convert");
  TempDir dir;
  const Bytes little = Made(dir, kConvert + "-define tiff:endian=lsb ", "l.tif");
  const Bytes big = Made(dir, kConvert + "-define tiff:endian=msb ", "b.tif");
  const Bytes pages = Made(dir, kConvert + "-size 100x80 gradient: ", "p.tif");  // two directories, chained
  const Bytes tiles = Made(dir, kConvert + "-define tiff:tile-geometry=64x64 ", "t.tif");
  const Bytes strips = Made(dir, kConvert + "-define tiff:rows-per-strip=7 -compress zip ", "s.tif");
  EXPECT_EQ(std::string(little.begin(), little.begin() + 4), std::string("II*\0", 4));
  EXPECT_EQ(std::string(big.begin(), big.begin() + 4), std::string("MM\0*", 4));
  for (const Bytes* f : {&little, &big, &pages, &tiles, &strips}) {
    SCOPED_TRACE(f == &little ? "little-endian" : f == &big ? "big-endian" : f == &pages ? "two pages"
                 : f == &tiles ? "tiled" : "many strips");
    ExpectMeasuredFile(TiffCarver, code::kTiff, *f);
  }
  // libtiff writes the directory after the image data; the first directory's
  // offset pointing back into the header, or to itself, is no TIFF.
  const std::size_t first = LoadLe32(little.data() + 4);
  ASSERT_GT(first, little.size() / 2);
  const struct { const char* name; Bytes file; } broken[] = {
      {"first directory at 4", With(little, 4, Le(4, 4))},
      {"a directory chained to itself", With(little, first + 2 + 12 * LoadLe16(little.data() + first), Le(first, 4))},
      {"a directory of no entries", With(little, first, {0, 0})},
  };
  for (const auto& b : broken) EXPECT_EQ(Carve(TiffCarver, b.file), Runs{}) << b.name;

  // The last strip made 3,000 bytes longer: its end, past the directory, is the file's end.
  const std::size_t at = LoadLe32(strips.data() + 4);
  std::size_t counts = 0, offsets = 0, stripCount = 0;
  for (std::size_t i = 0; i < LoadLe16(strips.data() + at); ++i) {
    const std::uint8_t* e = strips.data() + at + 2 + 12 * i;
    if (LoadLe16(e) == 273 || LoadLe16(e) == 279) {
      ASSERT_EQ(LoadLe16(e + 2), 4) << "LONG values";
      (LoadLe16(e) == 273 ? offsets : counts) = LoadLe32(e + 8);
      stripCount = LoadLe32(e + 4);
    }
  }
  ASSERT_GT(stripCount, 1u);
  const std::size_t lastCount = counts + 4 * (stripCount - 1), lastOffset = offsets + 4 * (stripCount - 1);
  const std::size_t longer = LoadLe32(strips.data() + lastOffset) + LoadLe32(strips.data() + lastCount) + 3000;
  ASSERT_GT(longer, strips.size());
  EXPECT_EQ(Carve(TiffCarver, With(strips, lastCount, Le(LoadLe32(strips.data() + lastCount) + 3000, 4))),
            Span(2, (longer + 511) / 512));
}

TEST(RiffFormCarverRealFiles, WebpLossyLosslessAndAnimated) {
  VELLUMARK_REQUIRE_TOOL("/usr/bin/convert");
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const Bytes lossy = Made(dir, kConvert + "-quality 80 ", "a.webp");
  const Bytes lossless = Made(dir, kConvert + "-define webp:lossless=true ", "b.webp");
  const Bytes animated = Made(dir, "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=1:size=64x48:rate=5 "
                                   "-c:v libwebp_anim -loop 0 ", "c.webp");
  for (const Bytes* f : {&lossy, &lossless, &animated}) {
    SCOPED_TRACE(f == &lossy ? "lossy" : f == &lossless ? "lossless" : "animated");
    ASSERT_EQ(std::string(f->begin() + 8, f->begin() + 12), "WEBP");
    ASSERT_EQ(LoadLe32(f->data() + 4) + 8u, f->size());
    ExpectMeasuredFile(RiffFormCarver, code::kRiffOther, *f);
  }
  const std::size_t n = lossy.size();
  const struct { const char* name; Bytes file; } broken[] = {
      {"declared one chunk header longer", With(lossy, 4, Le(n, 4))},
      {"declared shorter than its chunk", With(lossy, 4, Le(n - 16, 4))},
      {"a chunk name with a control character", With(lossy, 12, {0x01})},
  };
  for (const auto& b : broken) EXPECT_EQ(Carve(RiffFormCarver, b.file, 40), Runs{}) << b.name;
}

// Some writers leave the pad byte after an odd last chunk out of the form's
// size; readers take such a file all the same, and so does the carver.
TEST(RiffFormCarverSynthetic, PadByteAfterTheLastChunk) {
  const Bytes unpadded = Cat({{'R', 'I', 'F', 'F'}, Le(1015, 4), {'W', 'A', 'V', 'E'},
                              {'d', 'a', 't', 'a'}, Le(1003, 4), Bytes(1003, 0x55), {0}});
  ASSERT_EQ(unpadded.size(), 1024u);
  const struct { const char* name; Bytes file; Runs claims; } cases[] = {
      {"pad byte left out of the size", unpadded, Span(2, 2)},
      {"pad byte counted", With(unpadded, 4, Le(1016, 4)), Span(2, 2)},
      {"size ending inside the last chunk", With(unpadded, 4, Le(1014, 4)), Runs{}},
      {"size one past the pad byte", With(unpadded, 4, Le(1017, 4)), Runs{}},
  };
  for (const auto& c : cases) EXPECT_EQ(Carve(RiffFormCarver, c.file), c.claims) << c.name;
}

TEST(SqliteCarverRealFiles, PageSizeTimesPageCount) {
  VELLUMARK_REQUIRE_TOOL("sqlite3");
  TempDir dir;
  const std::string rows = "create table t(a, b); with recursive n(i) as (select 1 union all select i + 1 from n "
                           "where i < 3000) insert into t select i, hex(randomblob(40)) from n;'";
  const Bytes small = Made(dir, "sqlite3 ", "a.db", " '" + rows);
  const Bytes large = Made(dir, "sqlite3 ", "b.db", " 'pragma page_size = 65536; " + rows);
  ASSERT_EQ(std::size_t{LoadBe32(small.data() + 28)} * (small[16] << 8 | small[17]), small.size());
  ASSERT_EQ(large[16] << 8 | large[17], 1);  // 65,536 is stored as 1
  for (const Bytes* f : {&small, &large}) {
    SCOPED_TRACE(f == &small ? "4 KiB pages" : "64 KiB pages");
    ExpectMeasuredFile(SqliteCarver, code::kSqlite, *f);
  }
  const std::size_t n = small.size();
  const struct { const char* name; Bytes file; std::size_t length; } cases[] = {
      {"three more pages declared", With(small, 28, {0, 0, 0, std::uint8_t(small[31] + 3)}), n + 3 * 4096},
      {"count not valid for this change", With(small, 95, {std::uint8_t(small[95] + 1)}), 0},
      {"page size 1000", With(small, 16, {0x03, 0xE8}), 0},
      {"no pages", With(small, 28, {0, 0, 0, 0}), 0},
  };
  ASSERT_LT(small[31], 250);
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(SqliteCarver, c.file, 40), Span(2, c.length == 0 ? 0 : (c.length + 511) / 512)) << c.name;
  }
}

}  // namespace
}  // namespace vellumark
