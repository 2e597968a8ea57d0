#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rescue/rescue_run.h"

namespace vellumark {

// A ZIP archive put back together from whole clusters chosen among the
// unclaimed ones after its first local header.
struct ZipReassembly {
  std::vector<std::uint8_t> bytes;        // the archive, to the end of its end record's comment
  std::vector<std::int64_t> sectors;      // the source sectors of its bytes, in order
  std::vector<std::int64_t> clusterTail;  // unclaimed sectors of the last cluster, after the archive
};

struct ZipReassemblyOutcome {
  std::optional<ZipReassembly> whole;
  std::uint64_t work = 0;  // bytes fed to the members' checks
};

// Rebuilds the archive whose first local header is at hitOffset in the
// archive's own order. Its end record, found after the header where its
// offset in its cluster agrees with the length it gives, says where the
// central directory lies in the archive; the directory, put together from
// the clusters before the end record, gives every member's offset, sizes
// and CRC-32; each member's local header, found on the source where its
// offset says, pins a cluster; between two pinned clusters the clusters of
// foreign data are those whose leaving out lets the member inflate to its
// size and CRC-32. Claims nothing, and uses no sector another file has
// claimed. Bounded by counted work proportional to the archive's length,
// never by time. Needs 512-byte source sectors; single-disk ZIP32 archives only.
ZipReassemblyOutcome ReassembleZip(RescueRun& run, std::int64_t hitOffset);

}  // namespace vellumark
