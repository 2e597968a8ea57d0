#include <string>

#include "common/byte_order.h"
#include "rescue/measured_carver_fixture.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

Bytes Be32(std::size_t v) { return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)}; }

// The furthest end of a table in a font's table directory.
std::size_t TablesEnd(const Bytes& f) {
  std::size_t end = 0;
  for (std::size_t i = 0; i < (std::size_t{f[4]} << 8 | f[5]); ++i) {
    const std::uint8_t* r = f.data() + 12 + 16 * i;
    end = std::max<std::size_t>(end, std::size_t{LoadBe32(r + 8)} + LoadBe32(r + 12));
  }
  return end;
}

TEST(SfntFontCarverRealFiles, TrueTypeAndOpenTypeCff) {
  VELLUMARK_REQUIRE_FILE("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf");
  VELLUMARK_REQUIRE_FILE("/usr/share/fonts/opentype/font-awesome/FontAwesome.otf");
  VELLUMARK_REQUIRE_FILE("/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf");
  const Bytes ttf = ReadFileBytes("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf");
  const Bytes awesome = ReadFileBytes("/usr/share/fonts/opentype/font-awesome/FontAwesome.otf");
  const Bytes cantarell = ReadFileBytes("/usr/share/fonts/opentype/cantarell/Cantarell-Regular.otf");
  EXPECT_EQ(LoadBe32(ttf.data()), 0x00010000u);
  for (const Bytes* f : {&ttf, &awesome, &cantarell}) {
    SCOPED_TRACE(f == &ttf ? "DejaVuSansMono.ttf" : f == &awesome ? "FontAwesome.otf" : "Cantarell-Regular.otf");
    if (f != &ttf) {
      EXPECT_EQ(std::string(f->begin(), f->begin() + 4), "OTTO");
    }
    // The last table is padded to four bytes, which never adds a sector.
    ASSERT_EQ((TablesEnd(*f) + 3) / 4 * 4, (f->size() + 3) / 4 * 4);
    ExpectMeasuredFile(SfntFontCarver, code::kSfntFont, *f);
  }
  const std::size_t n = ttf.size();
  const std::size_t record = 12 + 16 * 3;  // the fourth table record
  const struct { const char* name; Bytes file; std::size_t length; } cases[] = {
      {"a table beyond the others", With(ttf, record + 8, Cat({Be32(0x100000), Be32(0x1000)})),
       std::max<std::size_t>(n, 0x100000 + 0x1000)},
      {"a table at an odd offset", With(ttf, record + 11, {std::uint8_t(ttf[record + 11] | 1)}), 0},
      {"a table inside the directory", With(ttf, record + 8, {0, 0, 0, 16}), 0},
      {"a tag with a control character", With(ttf, record, {0x01}), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(SfntFontCarver, c.file, 2100), Span(2, c.length == 0 ? 0 : (c.length + 511) / 512)) << c.name;
  }
}

TEST(WoffCarverRealFiles, FontAwesomeWebFont) {
  VELLUMARK_REQUIRE_FILE("/usr/share/fonts-font-awesome/fonts/fontawesome-webfont.woff");
  const Bytes woff = ReadFileBytes("/usr/share/fonts-font-awesome/fonts/fontawesome-webfont.woff");
  ASSERT_EQ(LoadBe32(woff.data() + 8), woff.size());
  ExpectMeasuredFile(WoffCarver, code::kWoff, woff);
  const std::size_t n = woff.size();
  const struct { const char* name; Bytes file; std::size_t length; } cases[] = {
      {"declared 2,000 bytes longer", With(woff, 8, Be32(n + 2000)), n + 2000},
      {"declared shorter than a table's end", With(woff, 8, {0, 0, 0x02, 0}), 0},
      {"reserved field set", With(woff, 15, {1}), 0},
      {"no tables", With(woff, 12, {0, 0}), 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(WoffCarver, c.file, 40), Span(2, c.length == 0 ? 0 : (c.length + 511) / 512)) << c.name;
  }
}

}  // namespace
}  // namespace vellumark
