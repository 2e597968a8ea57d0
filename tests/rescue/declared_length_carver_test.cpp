#include "common/byte_order.h"
#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

Bytes Bmp(std::uint32_t size, std::uint32_t reserved = 0) {
  return Sector(Cat({{'B', 'M'}, Le(size, 4), Le(reserved, 4)}));
}
Bytes Riff(std::uint32_t size) { return Sector(Cat({{'R', 'I', 'F', 'F'}, Le(size, 4), {'W', 'A', 'V', 'E'}})); }

const Bytes kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const Bytes kProps = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const Bytes kOther = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
const Bytes kIndex = {0x90, 0x08, 0x00, 0x33, 0xB1, 0xE5, 0xCF, 0x11, 0x89, 0xF4, 0x00, 0xA0, 0xC9, 0x03, 0x49, 0xCB};
const Bytes kData = With(kHeader, 0, {0x36});

// An ASF header with the file properties object first, declaring fileSize.
Bytes AsfProps(std::int64_t fileSize) {
  return Sector(Cat({kHeader, Le(600, 8), Le(6, 4), {1, 2}, kProps, Le(104, 8), Bytes(16, 0x11), Le(fileSize, 8)}));
}
// A top-level ASF object: GUID, size (its header included), body.
Bytes Obj(const Bytes& guid, std::int64_t size) {
  Bytes o = Cat({guid, Le(size, 8)});
  return o.resize(std::max<std::int64_t>(size, 24), 0x5A), o;
}

// sectors: claimed from the hit on (0: none); tail: random sectors after the file.
struct Case { const char* name; Bytes file; std::int64_t sectors; std::int64_t tail = 40; };
void ExpectClaims(MediaCarver carve, std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(Carve(carve, c.file, c.tail), Span(2, c.sectors)) << c.name;
}

TEST(BmpCarverSynthetic, DeclaredSize) {
  ExpectClaims(BmpCarver, {
      {"1,000,000 bytes", Bmp(1'000'000), 1954, 2000},
      {"513 bytes", Bmp(513), 2},
      {"104,857,600 bytes: runs to the source's end and keeps it", Bmp(104'857'600), 41},
      {"104,857,601 bytes: the hit sector", Bmp(104'857'601), 1},
      {"negative: the hit sector", Bmp(0xFFFFF000), 1},
      {"reserved field set", Bmp(1000, 0x01000000), 0},
      {"BN", With(Bmp(1000), 1, {'N'}), 0},
  });
  Bytes image(204'810 * 512, 0);
  const Bytes header = Bmp(104'857'600);
  std::copy(header.begin(), header.end(), image.begin() + 5 * 512);
  Disk disk(std::move(image));
  BmpCarver(disk.run, 5 * 512);
  EXPECT_EQ(disk.Claimed(), Span(5, 204'800));
}

TEST(RiffCarverSynthetic, DeclaredSize) {
  ExpectClaims(RiffCarver, {
      {"999,992 bytes", Riff(999'992), 1954, 2000},
      {"0: the hit sector", Riff(0), 1},
      {"504", Riff(504), 1},
      {"505", Riff(505), 2},
      {"FFFFFFFF does not wrap: runs to the source's end", Riff(0xFFFFFFFF), 41},
      {"RIFX", With(Riff(100), 3, {'X'}), 0},
  });
}

TEST(AsfCarverPropertiesFirst, DeclaredFileSize) {
  ExpectClaims(AsfCarver, {
      {"10,000,000 bytes", AsfProps(10'000'000), 19532, 19600},
      {"512: the hit sector", AsfProps(512), 1},
      {"513", AsfProps(513), 2},
      {"negative", AsfProps(-1), 1},
      {"beyond 2^32: runs to the source's end", AsfProps(0x1'0000'0400), 41},
      {"file properties GUID, last byte", With(AsfProps(5000), 45, {0x66}), 0},
  });
}

TEST(AsfCarverObjectWalk, TopLevelObjects) {
  const Bytes small = Cat({Obj(kHeader, 700), Obj(kData, 1500)});
  Bytes many = Obj(kHeader, 700);
  for (int i = 0; i < 80; ++i) many = Cat({many, Obj(kOther, 500)});
  many = Cat({many, Obj(kData, 3000)});
  ExpectClaims(AsfObjectCarver, {
      {"header straddling a sector boundary", small, 5},
      {"header and data of several sectors", Cat({Obj(kHeader, 3000), Obj(kData, 5000)}), 16},
      {"40,000-byte header", Cat({Obj(kHeader, 40'000), Obj(kData, 700)}), 80},
      {"index after the data not claimed", Cat({Obj(kHeader, 1024), Obj(kData, 2048), Obj(kIndex, 3000)}), 6},
      {"either GUID family, any first byte", Cat({Obj(kHeader, 700), Obj(With(kHeader, 0, {0x77}), 300),
                                                  Obj(With(kOther, 0, {0}), 900), Obj(kData, 900)}), 6},
      {"24-byte object", Cat({Obj(kHeader, 700), Obj(kOther, 24), Obj(kData, 1500)}), 5},
      {"80 small objects: more than 60 sectors walked", many, SectorsOf(many)},
      {"second object with an all-zero GUID", Cat({Obj(kHeader, 700), Obj(Bytes(16, 0), 300), Obj(kData, 1500)}), 0},
      {"23-byte object", Cat({Obj(kHeader, 700), Obj(kOther, 23), Obj(kData, 1500)}), 0},
      {"negative object size", Cat({Obj(kHeader, 700), Obj(kOther, -1), Obj(kData, 1500)}), 0},
      {"hit without the header object GUID", With(small, 0, {0x31}), 0},
  });
  // Object sizes around the steps of the unread middle, with objects after them.
  for (std::int64_t header : {500, 511, 512, 513, 1000, 1023, 1024, 1025, 1536}) {
    for (std::int64_t middle : {1000, 1024, 1030, 1500, 2048, 2049, 5000}) {
      const Bytes f = Cat({Obj(kHeader, header), Obj(kOther, middle), Obj(kData, 1500), Obj(kIndex, 2000)});
      EXPECT_EQ(Carve(AsfObjectCarver, f), Span(2, (header + middle + 1500 + 511) / 512)) << header << "+" << middle;
    }
  }
  ExpectMiddleUnread(AsfObjectCarver, Cat({Obj(kHeader, 700), Obj(kData, 300'000)}));
}

TEST(BmpCarverRealFiles, ConvertBitmap) {
  VELLUMARK_REQUIRE_TOOL("/usr/bin/convert");
  TempDir dir;
  const Bytes bmp = Made(dir, "/usr/bin/convert -size 100x80 xc:red bmp3:", "x.bmp");
  ASSERT_EQ(LoadLe32(bmp.data() + 2), bmp.size());
  EXPECT_EQ(ClassifySector(bmp.data(), bmp.size()), code::kBmp);
  ExpectCarveProtocol(BmpCarver, bmp, With(bmp, 6, {1}));
}

TEST(RiffCarverRealFiles, SoxWaveAndFfmpegAvi) {
  VELLUMARK_REQUIRE_TOOL("sox");
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const Bytes wav = Made(dir, "sox -n -r 8000 -c 1 ", "a.wav", " synth 1 sine 440");
  const std::string ffmpeg = "ffmpeg -nostdin -v error -f lavfi -i testsrc=";
  const Bytes avi = Made(dir, ffmpeg + "duration=1:size=64x48:rate=5 -c:v mjpeg ", "x.avi");
  for (const auto& [file, kind] : {std::pair{&wav, code::kRiffWave}, std::pair{&avi, code::kRiffAvi}}) {
    ASSERT_GT(file->size(), 4096u);
    ASSERT_EQ(LoadLe32(file->data() + 4) + 8u, file->size());
    EXPECT_EQ(ClassifySector(file->data(), file->size()), kind);
    ExpectCarveProtocol(RiffCarver, *file, With(*file, 0, {'r'}));
  }
}

TEST(AsfCarverRealFiles, FfmpegWmvBothWays) {
  VELLUMARK_REQUIRE_TOOL("ffmpeg");
  TempDir dir;
  const std::string ffmpeg = "ffmpeg -nostdin -v error -f lavfi -i testsrc=duration=2:size=64x48:rate=10";
  const Bytes wmv = Made(dir, ffmpeg + " -c:v wmv2 -f asf ", "x.wmv");
  ASSERT_GT(wmv.size(), 4096u);
  ASSERT_EQ(LoadLe64(wmv.data() + 70), wmv.size());
  EXPECT_EQ(ClassifySector(wmv.data(), wmv.size()), code::kAsfPropertiesFirst);
  ExpectCarveProtocol(AsfCarver, wmv, With(wmv, 30, {0}));

  // The file properties object moved to the end of the header: the object walk.
  const auto at = [&](std::size_t i) { return wmv.begin() + static_cast<std::ptrdiff_t>(i); };
  const std::size_t header = LoadLe64(wmv.data() + 16), props = 30 + LoadLe64(wmv.data() + 46);
  const Bytes moved =
      Cat({Head(wmv, 30), Bytes(at(props), at(header)), Bytes(at(30), at(props)), Bytes(at(header), wmv.end())});
  EXPECT_EQ(ClassifySector(moved.data(), moved.size()), code::kAsfOther);
  ASSERT_EQ(wmv[header], 0x36);
  const Bytes walked = Head(moved, header + LoadLe64(wmv.data() + header + 16));  // header and data objects
  ASSERT_LT(SectorsOf(walked), SectorsOf(wmv));  // an index follows, partly in sectors of its own
  EXPECT_EQ(Carve(AsfObjectCarver, moved), Span(2, SectorsOf(walked)));
  ExpectCarveProtocol(AsfObjectCarver, walked, With(moved, header, Bytes(16, 0)));
}

}  // namespace
}  // namespace vellumark
