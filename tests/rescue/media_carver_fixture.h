#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "access/memory_platform_source.h"
#include "rescue/carvers/carvers.h"
#include "support/fixtures.h"

// Disks in memory and the checks every media carver shares.
namespace vellumark::test {

using Bytes = std::vector<std::uint8_t>;
using Runs = std::vector<std::pair<std::int64_t, std::int64_t>>;  // claimed sectors, first..last
using MediaCarver = void (*)(RescueRun&, std::int64_t);

inline std::int64_t SectorsOf(const Bytes& f) { return (static_cast<std::int64_t>(f.size()) + 511) / 512; }
inline Runs Span(std::int64_t first, std::int64_t n) { return n > 0 ? Runs{{first, first + n - 1}} : Runs{}; }
inline Bytes Head(const Bytes& f, std::size_t n) { return Bytes(f.begin(), f.begin() + std::ptrdiff_t(n)); }
inline Bytes With(Bytes f, std::size_t at, const Bytes& patch) {
  return std::copy(patch.begin(), patch.end(), f.begin() + std::ptrdiff_t(at)), f;
}
inline Bytes Le(std::uint64_t v, std::size_t n) {  // little-endian, n bytes
  Bytes out(n);
  for (std::uint8_t& b : out) b = std::uint8_t(v), v >>= 8;
  return out;
}
inline Bytes Sector(Bytes head) { return head.resize(512, 0), head; }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Random sectors holding file from hitSector on, stepping over the gaps, then tail random sectors.
inline Bytes Place(const Bytes& file, std::int64_t hit, std::int64_t tail, const std::set<std::int64_t>& gaps = {}) {
  Bytes image = PatternBytes((hit + SectorsOf(file) + static_cast<std::int64_t>(gaps.size()) + tail) * 512, 5);
  for (std::size_t at = 0, sector = hit; at < file.size(); at += 512, ++sector) {
    while (gaps.count(static_cast<std::int64_t>(sector)) != 0) ++sector;
    std::copy(file.begin() + at, file.begin() + std::min(file.size(), at + 512), image.begin() + sector * 512);
  }
  return image;
}

// An image file of 512-byte sectors with a rescue run over it; mappable:
// the platform maps it into memory, as it does a real image file.
struct Disk {
  explicit Disk(Bytes image, std::uint32_t spc = 1, bool mappable = false)
      : mem(new MemoryPlatformSource), source(std::unique_ptr<PlatformSource>(mem)), run(source, fe) {
    mem->Add("disk.img", std::move(image)).mappable = mappable;
    EXPECT_TRUE(source.OpenImageFile("disk.img").ok());
    run.claims = ClaimMap(source.ScanGeometry().LastSector);
    run.spc = spc, run.chosenPhase = 0;
  }
  Runs Claimed() const {
    Runs runs;
    for (std::int64_t s = 0; s <= run.claims.LastSector(); ++s) {
      if (!run.claims.IsSectorClaimed(s)) continue;
      if (!runs.empty() && runs.back().second == s - 1) runs.back().second = s;
      else runs.emplace_back(s, s);
    }
    return runs;
  }

  MemoryPlatformSource* mem;
  SectorSource source;
  SilentPrompt prompt;  NoPump pump;  NoProgress progress;
  FrontEnd fe{prompt, pump, progress};
  RescueRun run;
};

// The claims after carving file placed at sector 2 with tail random sectors after it.
inline Runs Carve(MediaCarver carve, const Bytes& file, std::int64_t tail = 8) {
  Disk disk(Place(file, 2, tail));
  carve(disk.run, 2 * 512);
  return disk.Claimed();
}

// What every carver does around its walk. good (two sectors or more) claims
// exactly its own sectors; bad fails, also when it runs into the source's end.
inline void ExpectCarveProtocol(MediaCarver carve, const Bytes& good, const Bytes& bad) {
  const std::int64_t n = SectorsOf(good);
  {
    Disk disk(Place(good, 4, 8));
    disk.run.claims.ClaimSector(4);
    const int reads = disk.mem->ReadCalls();
    carve(disk.run, 4 * 512);
    EXPECT_EQ(disk.mem->ReadCalls(), reads) << "hit already claimed";
    EXPECT_EQ(disk.Claimed(), Span(4, 1)) << "hit already claimed";
  }
  for (const std::int64_t last : {1000, 1003, 1007}) {  // 8-sector clusters: the slack up to 1007 is claimed
    Disk disk(Place(good, last + 1 - n, 16), 8);
    carve(disk.run, (last + 1 - n) * 512);
    EXPECT_EQ(disk.Claimed(), Span(last + 1 - n, 1008 - (last + 1 - n))) << "last sector " << last;
  }
  {
    Disk disk(Place(good, 4, 8, {5}));
    disk.run.claims.ClaimSector(5);
    carve(disk.run, 4 * 512);
    EXPECT_EQ(disk.Claimed(), Span(4, n + 1)) << "another file's sector inside the run";
  }
  {
    Disk disk(Place(bad, 4, 0, {5}), 8);
    disk.run.claims.ClaimSector(1), disk.run.claims.ClaimSector(5);
    carve(disk.run, 4 * 512);
    EXPECT_EQ(disk.Claimed(), (Runs{{1, 1}, {5, 5}})) << "failure releases its own claims, no others";
  }
}

// The middle of a long chunk or object is claimed unread: reads there fail.
inline void ExpectMiddleUnread(MediaCarver carve, const Bytes& file) {
  ASSERT_GT(file.size(), 250'000u);
  Disk disk(Place(file, 2, 200));
  disk.mem->FailReads(2 * 512 + 90'000, 100'000);
  carve(disk.run, 2 * 512);
  EXPECT_EQ(disk.Claimed(), Span(2, SectorsOf(file)));
}

}  // namespace vellumark::test
