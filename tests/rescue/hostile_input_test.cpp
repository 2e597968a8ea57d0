// Sources in which every sector starts a file that never ends: the carving's
// work must grow with the source, not with its square. Each failed attempt
// walks towards an end that never comes, and every hit below it would walk
// the same way again unless what the attempts found out is remembered.
// The work is counted, not timed: system reads of the source, and the
// sectors the attempts step over or claim one at a time.
#include <gtest/gtest.h>

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

struct Hostile {
  const char* name;
  Bytes header;  // the start of every sector; zeros after it
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
};

struct Work {
  std::int64_t reads = 0;
  std::int64_t steps = 0;
};

// Rescues a source of `sectors` sectors, each starting with header, with
// one sector per cluster so that every sector is a hit.
Work RescueWork(const Bytes& header, std::int64_t sectors) {
  Bytes sector = header;
  sector.resize(512, 0);
  Bytes image;
  image.reserve(static_cast<std::size_t>(sectors) * 512);
  for (std::int64_t s = 0; s < sectors; ++s) image.insert(image.end(), sector.begin(), sector.end());

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
  // 2 and 4 MiB: a walk to the end of the source from every sector would
  // make the second four times the first.
  constexpr std::int64_t kSectors = 4096;
  for (const Hostile& h : kHostile) {
    SCOPED_TRACE(h.name);
    const Work once = RescueWork(h.header, kSectors);
    const Work twice = RescueWork(h.header, 2 * kSectors);
    EXPECT_LE(twice.reads, 2 * once.reads + 8) << once.reads << " reads for " << kSectors << " sectors";
    EXPECT_LE(twice.steps, 2 * once.steps + 64) << once.steps << " steps for " << kSectors << " sectors";
    // And the work is of the order of the source, a few reads of a window
    // and a few steps per sector.
    EXPECT_LE(twice.reads, 2 * kSectors / 16);
    EXPECT_LE(twice.steps, 8 * kSectors);
  }
}

}  // namespace
}  // namespace vellumark
