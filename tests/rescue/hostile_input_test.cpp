// Sources in which every sector starts a file that never ends: the carving's
// work must grow with the source, not with its square. Each failed attempt
// walks towards an end that never comes, and every hit below it would walk
// the same way again unless what the attempts found out is remembered.
// The work is counted, not timed: system reads of the source, and the
// sectors the attempts step over or claim one at a time.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>

#include "access/memory_platform_source.h"
#include "rescue/deep_scan.h"
#include "support/fixtures.h"

namespace vellumark {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Le16(std::uint16_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8)}; }
Bytes Le32(std::uint32_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}; }
Bytes Le64(std::uint64_t v) {
  Bytes out = Le32(std::uint32_t(v)), high = Le32(std::uint32_t(v >> 32));
  out.insert(out.end(), high.begin(), high.end());
  return out;
}
Bytes Be16(std::uint16_t v) { return {std::uint8_t(v >> 8), std::uint8_t(v)}; }
Bytes Be32(std::uint32_t v) { return {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)}; }
Bytes Text(const char* text) { return Bytes(text, text + std::strlen(text)); }
Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// A compound file header whose DIFAT names FAT sector 204798, 100 MiB ahead.
Bytes FarFatCompoundHeader() {
  Bytes header(512, 0);
  const Bytes signature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  std::copy(signature.begin(), signature.end(), header.begin());
  const Bytes layout = Cat({Le16(0x3E), Le16(3), Le16(0xFFFE), Le16(9)});
  std::copy(layout.begin(), layout.end(), header.begin() + 24);
  const Bytes noDifatSectors = Le32(0xFFFFFFFE);
  std::copy(noDifatSectors.begin(), noDifatSectors.end(), header.begin() + 68);
  std::fill(header.begin() + 76, header.end(), 0xFF);
  const Bytes fat = Le32(204798);
  std::copy(fat.begin(), fat.end(), header.begin() + 76);
  return header;
}

// A ustar header of an empty file, its checksum filled in.
Bytes EmptyTarHeader() {
  Bytes h(512, 0);
  auto put = [&](std::size_t at, const char* text) { std::memcpy(h.data() + at, text, std::strlen(text)); };
  put(0, "a");
  put(100, "0000644");
  put(108, "0000000");
  put(116, "0000000");
  put(124, "00000000000");
  put(136, "00000000000");
  put(156, "0");
  put(257, "ustar");
  put(263, "00");
  put(148, "        ");
  unsigned sum = 0;
  for (std::uint8_t b : h) sum += b;
  std::snprintf(reinterpret_cast<char*>(h.data()) + 148, 8, "%06o", sum);
  h[155] = ' ';
  return h;
}

// EBML header of a WebM, a Segment of unknown size, then a Cluster of 500
// bytes whose end is the next sector's Cluster.
Bytes ChainedClusters() {
  const Bytes docType = Cat({Be16(0x4282), {0x84}, Text("webm")});
  return Cat({Be32(0x1A45DFA3), {std::uint8_t(0x80 | docType.size())}, docType, Be32(0x18538067),
              {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, Be32(0x1F43B675), {0x01, 0, 0, 0, 0, 0, 0x01, 0xF4}});
}

// A TIFF whose one directory names as the next one the offset that,
// counted from the source's start, is the next sector's: from sector k the
// chain runs through sectors 2k + 1, 3k + 2 and so on.
Bytes ChainedDirectory(std::int64_t sector) {
  return Cat({Text("II*"), {0}, Le32(8), Le16(1), Le16(256), Le16(3), Le32(1), Le32(1),
              Le32(std::uint32_t(512 * (sector + 1) + 8))});
}

struct Hostile {
  const char* name;
  Bytes header;  // the start of every sector; zeros after it
  Bytes (*headerOf)(std::int64_t sector) = nullptr;  // instead, when sectors differ
  // The work allowed: reads, and steps of the attempts, per sector.
  double readsPerSector = 1.0 / 16;
  std::int64_t stepsPerSector = 4;
};

const Hostile kHostile[] = {
    // A start of scan whose data never holds FF D9.
    {"JPEG without an end", {0xFF, 0xD8, 0xFF, 0xDA, 0x00, 0x08}},
    {"compound file with a far FAT sector", FarFatCompoundHeader()},
    // An archive header with 4 GiB - 16 of packed data after it.
    {"RAR block of 4 GiB", Cat({{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00}, Le16(0), {0x73}, Le16(0x8000), Le16(11),
                               Le32(0xFFFFFFF0)})},
    {"MP4 mdat box of 4 GiB", Cat({Be32(20), Text("ftypisom"), Be32(0), Text("isom"), Be32(0xFFFFFFF0), Text("mdat")})},
    // The next header 2 GiB ahead: every one succeeds, each over the last.
    {"7z archive of 2 GiB", Cat({{0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x03}, Le32(0), Le64(0x7FFFFFFF), Le64(256)})},
    {"ZIP member of 2 GiB", Cat({Le32(0x04034B50), Bytes(14, 0), Le32(0x7FFFFF00), Bytes(8, 0)})},
    {"ASF object of 4 GiB", Cat({{0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62,
                                 0xCE, 0x6C},
                                Le64(0xFFFFFFF0)})},
    // Chains that lead from every sector into the ones after it.
    {"PNG IDAT chain", Cat({{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, Be32(500), Text("IDAT")})},
    {"RAR blocks of 1 MiB", Cat({{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00}, Le16(0), {0x74}, Le16(0x8000), Le16(11),
                                Le32((1 << 20) - 11)}),
     nullptr, 2, 6},  // a walk reads the sectors at the end of its block
    {"MP4 free boxes", Cat({Be32(20), Text("ftypisom"), Be32(0), Text("isom"), Be32(512), Text("free")})},
    {"JPEG segments of 64 KiB", {0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xFE}, nullptr, 2.5, 8},
    {"ZIP stored members", Cat({Le32(0x04034B50), Le16(10), Le16(0), Le16(0), Le16(0), Le16(0), Le32(0), Le32(482),
                               Le32(482), Le16(0), Le16(0)})},
    {"Matroska clusters", ChainedClusters()},
    {"tar headers", EmptyTarHeader()},
    {"gzip stored blocks", Cat({{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0x03}, {0}, Le16(507), Le16(507 ^ 0xFFFF)})},
    // Every walk is another chain: from sector k, n / k directories (at
    // most 1024), read one by one.
    {"TIFF directory chain", {}, &ChainedDirectory, 6, 48},
    {"PDF without an end", Text("%PDF-1.4\n")},
};

struct Work {
  std::int64_t reads = 0;
  std::int64_t steps = 0;
};

// Rescues a source of `sectors` sectors, each starting with header, with
// one sector per cluster so that every sector is a hit.
Work RescueWork(const Hostile& hostile, std::int64_t sectors) {
  Bytes image;
  image.reserve(static_cast<std::size_t>(sectors) * 512);
  for (std::int64_t s = 0; s < sectors; ++s) {
    Bytes sector = hostile.headerOf != nullptr ? hostile.headerOf(s) : hostile.header;
    sector.resize(512, 0);
    image.insert(image.end(), sector.begin(), sector.end());
  }

  test::TempDir dir;
  auto* platform = new MemoryPlatformSource;
  SectorSource source{std::unique_ptr<PlatformSource>(platform)};
  platform->Add("disk.img", std::move(image));
  EXPECT_TRUE(source.OpenImageFile("disk.img").ok());
  VolumeParameters parameters{source};
  parameters.SelectClusterSize(0);
  SilentPrompt prompt;
  NoPump pump;
  NoProgress progress;
  FrontEnd frontEnd{prompt, pump, progress};
  DeepScan scan{source, parameters, frontEnd};
  const int before = platform->ReadCalls();
  const ScanResult result = scan.Run({dir.path().string(), "0", std::to_string(sectors - 1), type_mask::kWord, {}});
  EXPECT_TRUE(result.ran);
  EXPECT_EQ(static_cast<std::int64_t>(scan.Hits().size()), sectors) << "every sector is a hit";
  return {platform->ReadCalls() - before, scan.LastRun().carveSteps};
}

TEST(HostileInput, CarvingWorkGrowsLinearlyWithTheSource) {
  // 2, 4 and 6 MiB. Work that grows with the source adds as much from the
  // second to the third as from the first to the second (a chain longer
  // than the smallest source only shifts where that starts); a walk to the
  // end of the source from every sector would add 5/3 as much.
  constexpr std::int64_t kSectors = 4096;
  for (const Hostile& h : kHostile) {
    SCOPED_TRACE(h.name);
    const Work once = RescueWork(h, kSectors);
    const Work twice = RescueWork(h, 2 * kSectors);
    const Work thrice = RescueWork(h, 3 * kSectors);
    EXPECT_LE(thrice.reads - twice.reads, (twice.reads - once.reads) * 5 / 4 + 16)
        << once.reads << ", " << twice.reads << ", " << thrice.reads << " reads";
    EXPECT_LE(thrice.steps - twice.steps, (twice.steps - once.steps) * 5 / 4 + 64)
        << once.steps << ", " << twice.steps << ", " << thrice.steps << " steps";
    // And the work is of the order of the source: a few reads (of a window,
    // or of the sectors a chain leads to) and a few steps per sector.
    EXPECT_LE(thrice.reads, h.readsPerSector * 3 * kSectors);
    EXPECT_LE(thrice.steps, h.stepsPerSector * 3 * kSectors);
  }
}

}  // namespace
}  // namespace vellumark
