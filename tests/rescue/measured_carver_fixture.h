#pragma once

#include <unistd.h>

#include <string>

#include "rescue/media_carver_fixture.h"
#include "support/fixtures.h"
#include "rescue/sector_classifier.h"

// Checks shared by the carvers that measure a file from structures spread
// through it (programs, fonts, TIFF, Ogg, FLAC, Matroska, SQLite, RIFF forms).
namespace vellumark::test {

// A file that a Debian package ships.
#define VELLUMARK_REQUIRE_FILE(path)                                     \
  do {                                                                   \
    if (::access(path, R_OK) != 0) VELLUMARK_CANNOT_RUN("needs " path); \
  } while (0)

// A copy cut short, the source ending after each of sectors (sector counts
// kept of the file), claims nothing.
inline void ExpectCutShortClaimsNothing(MediaCarver carve, const Bytes& file, std::initializer_list<std::int64_t> sectors) {
  for (const std::int64_t kept : sectors) {
    const auto cut = static_cast<std::size_t>(kept * 512);
    ASSERT_LT(cut, file.size());
    Disk disk(Place(Head(file, cut), 2, 0));
    carve(disk.run, 2 * 512);
    EXPECT_EQ(disk.Claimed(), Runs{}) << "cut to " << cut << " of " << file.size() << " bytes";
  }
}

// A real file measured to length bytes (its whole size unless given): the
// classifier names it, the carver claims exactly its sectors wherever the
// last one falls in a cluster, steps over another file's sectors at the
// start and in the middle, and claims nothing when the source ends before
// the file's last sector (after its first, half of its sectors, or all but
// its last).
inline void ExpectMeasuredFile(MediaCarver carve, FileTypeCode kind, const Bytes& file, std::size_t length = 0) {
  if (length == 0) length = file.size();
  const Bytes measured = Head(file, length);
  ASSERT_GE(SectorsOf(measured), 2);
  EXPECT_EQ(ClassifySector(file.data(), file.size()), kind);
  const std::int64_t n = SectorsOf(measured);
  ASSERT_LT(n, 1000) << "the protocol's disks end their files by sector 1007";
  ExpectCarveProtocol(carve, measured, Head(file, static_cast<std::size_t>(n - 1) * 512));
  EXPECT_EQ(Carve(carve, file), Span(2, SectorsOf(measured))) << "with the bytes after it";
  const std::int64_t middle = 4 + n / 2;
  Disk disk(Place(file, 4, 8, {middle}));
  disk.run.claims.ClaimSector(middle);
  carve(disk.run, 4 * 512);
  EXPECT_EQ(disk.Claimed(), Span(4, n + 1)) << "another file's sector in the middle";
  ExpectCutShortClaimsNothing(carve, file, {1, n / 2, n - 1});
}

}  // namespace vellumark::test
