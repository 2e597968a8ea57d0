#include <cstring>
#include <string>

#include "common/byte_order.h"
#include "rescue/media_carver_fixture.h"
#include "rescue/sector_classifier.h"

namespace vellumark {
namespace {

using namespace test;  // NOLINT

Bytes Fill(std::size_t n) { return Bytes(n, 0x55); }
// A JPEG marker segment: FF marker, big-endian length, length - 2 body bytes.
Bytes Seg(std::uint8_t marker, std::size_t length) {
  return Cat({{0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length)}, Fill(length > 2 ? length - 2 : 0)});
}
const Bytes kSoi = {0xFF, 0xD8}, kEoi = {0xFF, 0xD9}, kSos = Seg(0xDA, 12), kSosLengthFFD9 = {0xFF, 0xDA, 0xFF, 0xD9};

TEST(JpegCarverSynthetic, MarkerWalkAndEndSearch) {
  const struct { const char* name; Bytes file; std::int64_t sectors; } cases[] = {
      {"segments, scan, end", Cat({kSoi, Seg(0xE0, 16), Seg(0xDB, 67), kSos, Fill(1500), kEoi}), 4},
      {"quantisation table first", Cat({kSoi, Seg(0xDB, 67), kSos, Fill(1000), kEoi}), 3},
      {"FF FF D9", Cat({kSoi, kSos, Fill(700), {0xFF, 0xFF, 0xD9}}), 2},
      {"end marker split at 511/512", Cat({kSoi, kSos, Fill(495), kEoi}), 2},
      {"end marker split at 1023/1024", Cat({kSoi, Seg(0xE0, 16), kSos, Fill(989), kEoi}), 3},
      {"segment header split across sectors", Cat({kSoi, Seg(0xE0, 506), kSos, Fill(600), kEoi}), 3},
      {"FF D9 in an APP1 body passed over", Cat({kSoi, With(Seg(0xE1, 600), 100, kEoi), kSos, Fill(900), kEoi}), 3},
      {"segment length 3", Cat({kSoi, Seg(0xE0, 3), kSos, Fill(600), kEoi}), 2},
      {"search starts right after the scan length", Cat({kSoi, With(kSos, 4, kEoi), Fill(1500), kEoi}), 1},
      {"scan length FF D9 is no end", Cat({kSoi, kSosLengthFFD9, Fill(1000), kEoi}), 2},
      {"scan length FF D9 ending a sector is no end", Cat({kSoi, Seg(0xE0, 504), kSosLengthFFD9, Fill(600), kEoi}), 3},
      {"FF D8 not followed by FF", Cat({kSoi, {0x00}, kSos, Fill(600), kEoi}), 0},
      {"segment length 2", Cat({kSoi, Seg(0xE0, 2), kSos, Fill(600), kEoi}), 0},
      {"no FF where a marker belongs", Cat({kSoi, Seg(0xE0, 16), {0xFE, 0xDB, 0, 67}, Fill(65), kSos, kEoi}), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(Carve(JpegCarver, c.file), Span(2, c.sectors)) << c.name;
}

TEST(JpegCarverSynthetic, SearchGivesUpAfter20MiBOfImage) {
  for (const std::int64_t endByte : {20'972'031, 20'972'032}) {
    Bytes image(20'972'032 + 4096, 0);
    std::memcpy(image.data(), "\xFF\xD8\xFF\xDA\x00\x0C", 6);
    image[endByte - 1] = 0xFF, image[endByte] = 0xD9;
    Disk disk(std::move(image));
    JpegCarver(disk.run, 0);
    EXPECT_EQ(disk.Claimed(), Span(0, endByte == 20'972'031 ? 40961 : 0)) << endByte;
  }
}

// A JPEG whose search fails leaves the stretch it searched in the run's
// memory, and a hit below passes that stretch unread. What the hit below
// claims must be what it would claim without the memory. Its end can lie
// beyond the stretch only when the first search stopped at a sector it
// could not read then (it is read well later): at the 20 MiB limit or just
// inside it, the outcome is the same.
TEST(JpegCarverSynthetic, StretchSearchedBeforeIsPassedWithTheSameOutcome) {
  for (const std::int64_t endByte : {20'972'031, 20'972'032}) {
    Bytes image(20'972'032 + 4096, 0);
    for (const int hit : {0, 512}) std::memcpy(image.data() + hit, "\xFF\xD8\xFF\xDA\x00\x0C", 6);
    image[endByte - 1] = 0xFF, image[endByte] = 0xD9;
    Disk fresh(image);
    JpegCarver(fresh.run, 512);
    JpegCarver(fresh.run, 0);

    // An unreadable sector no longer stops a search (it is read as zeros,
    // as a failing disk loses sectors, not files): where it held zeros, the
    // two hits claim what they claim on a sound disk.
    Disk disk(std::move(image));
    disk.mem->FailReads(30'000 * 512, 512);
    JpegCarver(disk.run, 512);
    disk.mem->ClearFailures();
    JpegCarver(disk.run, 0);
    EXPECT_EQ(disk.Claimed(), fresh.Claimed()) << endByte;
  }
}

// A file carved over a searched stretch makes new neighbours of the sectors
// around it: the search must look at them. Here sector 9 ends with FF, and a
// bitmap over 10..12 leaves sector 13, which starts with D9, next to it.
TEST(JpegCarverSynthetic, StretchWithAFileCarvedOverItIsSearchedAgain) {
  Bytes image(600 * 512, 0);
  for (const int hit : {0, 512}) std::memcpy(image.data() + hit, "\xFF\xD8\xFF\xDA\x00\x0C", 6);
  image[10 * 512 - 1] = 0xFF, image[13 * 512] = 0xD9;
  std::memcpy(image.data() + 10 * 512, "BM\x00\x06\x00\x00\x00\x00\x00\x00", 10);  // 1536 bytes
  Disk fresh(image);
  BmpCarver(fresh.run, 10 * 512);
  JpegCarver(fresh.run, 0);
  ASSERT_EQ(fresh.Claimed(), Span(0, 14));

  Disk disk(std::move(image));
  disk.mem->FailReads(500 * 512, 512);
  JpegCarver(disk.run, 512);
  ASSERT_TRUE(disk.run.memory.JpegSearched().has_value());
  disk.mem->ClearFailures();
  BmpCarver(disk.run, 10 * 512);
  JpegCarver(disk.run, 0);
  EXPECT_EQ(disk.Claimed(), fresh.Claimed());
}

TEST(JpegCarverSynthetic, MarkerWalkGivesUpAfter20MiBOfSegments) {
  Bytes file = kSoi;
  const Bytes segment = Seg(0xE2, 65'535);
  while (file.size() < 20'971'520 + 65'537) file.insert(file.end(), segment.begin(), segment.end());
  EXPECT_EQ(Carve(JpegCarver, Cat({file, kSos, Fill(600), kEoi})), Span(2, 0));
}

// The walk stops at the limit, not at the end of the chain: a chain of
// segments twice as long is read (and held) no further than 20 MiB.
TEST(JpegCarverSynthetic, MarkerWalkReadsNoFurtherThanItsLimit) {
  Bytes file = kSoi;
  const Bytes segment = Seg(0xE2, 65'535);
  while (file.size() < 2 * 20'971'520) file.insert(file.end(), segment.begin(), segment.end());
  Disk disk(Place(Cat({file, kSos, Fill(600), kEoi}), 2, 8));
  const int before = disk.mem->ReadCalls();
  JpegCarver(disk.run, 2 * 512);
  EXPECT_EQ(disk.Claimed(), Runs{});
  // One system read per 64 KiB window.
  EXPECT_LE(disk.mem->ReadCalls() - before, (20'971'520 + 2 * 65'536) / 65'536);
}

TEST(JpegCarverRealFiles, BaselineProgressiveAndExifThumbnail) {
  VELLUMARK_REQUIRE_TOOL("/usr/bin/convert");
  TempDir dir;
  const std::string plasma = "/usr/bin/convert -size 640x480 -seed 1 plasma:fractal -quality 85 ";
  const Bytes baseline = Made(dir, plasma, "b.jpg"), progressive = Made(dir, plasma + "-interlace Plane ", "p.jpg");
  const Bytes thumb = Made(dir, "/usr/bin/convert -size 80x60 -seed 1 plasma:fractal -quality 70 ", "t.jpg");
  ASSERT_TRUE(baseline.size() > 4096 && progressive.size() > 4096 && thumb.size() > 600);
  // An APP1 "Exif" segment right after FF D8 holding a whole JPEG, end marker included.
  const std::size_t app1 = 8 + thumb.size();
  const Bytes exif = Cat({kSoi, {0xFF, 0xE1, std::uint8_t(app1 >> 8), std::uint8_t(app1), 'E', 'x', 'i', 'f', 0, 0},
                          thumb, Bytes(baseline.begin() + 2, baseline.end())});
  for (const Bytes* f : {&baseline, &progressive, &exif}) {
    SCOPED_TRACE(f == &baseline ? "baseline" : f == &progressive ? "progressive" : "EXIF thumbnail");
    ASSERT_TRUE(std::equal(kEoi.begin(), kEoi.end(), f->end() - 2));
    EXPECT_EQ(ClassifySector(f->data(), f->size()), code::kJpeg);
    ExpectCarveProtocol(JpegCarver, *f, Head(*f, f->size() / 1024 * 512));  // cut off: runs into the source's end
  }
}

// PNG: signature, then chunks {type, data length}, each with a (dummy) CRC.
Bytes Png(std::initializer_list<std::pair<const char*, std::uint32_t>> chunks) {
  Bytes f = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const auto& [type, n] : chunks) {
    f.insert(f.end(), {std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)});
    f.insert(f.end(), type, type + 4);
    f.insert(f.end(), n + 4, 0x5A);
  }
  return f;
}

TEST(PngCarverSynthetic, ChunkWalk) {
  const Bytes basic = Png({{"IHDR", 13}, {"IDAT", 3000}, {"IEND", 0}});
  const struct { const char* name; Bytes file; bool claims; std::int64_t tail = 8; } cases[] = {
      {"IHDR IDAT IEND", basic, true},
      {"every accepted chunk",
       Png({{"IHDR", 13}, {"sRGB", 1}, {"gAMA", 4}, {"cHRM", 32}, {"PLTE", 768}, {"IDAT", 900}, {"IEND", 0}}), true},
      {"signature bytes 4..7 unchecked", With(basic, 4, {0, 0, 0, 0}), true},
      {"signature byte 3", With(basic, 3, {'g'}), false},
      {"tEXt", Png({{"IHDR", 13}, {"IDAT", 3000}, {"tEXt", 20}, {"IEND", 0}}), true},
      {"tIME and pHYs", Png({{"IHDR", 13}, {"tIME", 7}, {"pHYs", 9}, {"IDAT", 3000}, {"IEND", 0}}), true},
      {"private and APNG chunks", Png({{"IHDR", 13}, {"acTL", 8}, {"fcTL", 26}, {"IDAT", 900}, {"fdAT", 900},
                                      {"prVt", 4}, {"IEND", 0}}), true},
      {"a type that is not four letters", Png({{"IHDR", 13}, {"IDA1", 3000}, {"IEND", 0}}), false},
      {"a type with a blank", Png({{"IHDR", 13}, {"IDA ", 3000}, {"IEND", 0}}), false},
      {"999,996 data bytes", Png({{"IHDR", 13}, {"IDAT", 999'996}, {"IEND", 0}}), true, 2000},
      {"999,997 data bytes", Png({{"IHDR", 13}, {"IDAT", 999'997}, {"IEND", 0}}), false, 2000},
      {"length FFFFFFFC", With(basic, 33, {0xFF, 0xFF, 0xFF, 0xFC}), false},
      {"IEND's CRC past the source's end", Head(Png({{"IHDR", 13}, {"IDAT", 971}, {"IEND", 0}}), 1024), true, 0},
      {"cut off before IEND at the source's end", Head(basic, 2560), false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Carve(PngCarver, c.file, c.tail), Span(2, c.claims ? SectorsOf(c.file) : 0)) << c.name;
  }
  // Chunk lengths around the steps of the unread middle, from several places in a sector.
  for (std::uint32_t before : {0u, 300u, 480u}) {
    for (std::uint32_t length : {1019u, 1020u, 1021u, 1531u, 1532u, 1533u, 50'000u}) {
      const Bytes f = Png({{"IHDR", 13}, {"IDAT", before}, {"IDAT", length}, {"IEND", 0}});
      EXPECT_EQ(Carve(PngCarver, f), Span(2, SectorsOf(f))) << before << " + " << length;
    }
  }
  ExpectMiddleUnread(PngCarver, Png({{"IHDR", 13}, {"IDAT", 300'000}, {"IEND", 0}}));
}

std::set<std::string> ChunkTypes(const Bytes& f) {
  std::set<std::string> types;
  for (std::size_t at = 8; at + 8 <= f.size(); at += 12 + LoadBe32(&f[at])) types.emplace(&f[at + 4], &f[at + 8]);
  return types;
}

TEST(PngCarverRealFiles, PlainAndTaggedAlike) {
  VELLUMARK_REQUIRE_TOOL("/usr/bin/convert");
  TempDir dir;
  const std::string make = "/usr/bin/convert -size 300x200 -seed 1 plasma:fractal ";
  const Bytes plain = Made(dir, make + "-define png:exclude-chunks=all png24:", "a.png");
  const Bytes tagged = Made(dir, make + "-density 300 ", "t.png");  // with tEXt, tIME and pHYs
  EXPECT_EQ(ChunkTypes(plain), (std::set<std::string>{"IHDR", "IDAT", "IEND"}));
  EXPECT_EQ(ChunkTypes(tagged).count("tEXt"), 1u);
  EXPECT_EQ(ChunkTypes(tagged).count("pHYs"), 1u);
  EXPECT_EQ(ClassifySector(plain.data(), plain.size()), code::kPng);
  ExpectCarveProtocol(PngCarver, plain, Head(plain, plain.size() - 20));
  ExpectCarveProtocol(PngCarver, tagged, Head(tagged, tagged.size() / 2));
}

}  // namespace
}  // namespace vellumark
