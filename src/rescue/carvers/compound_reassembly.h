#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rescue/rescue_run.h"

namespace vellumark {

// A compound file put back together from whole clusters chosen among the
// unclaimed ones after its start, stepping over clusters of foreign data.
struct Reassembly {
  std::vector<std::uint8_t> bytes;    // the file, cut to the length its FAT gives
  std::vector<std::int64_t> sectors;  // the source sectors of its bytes, in order
  std::vector<std::int64_t> clusterTail;  // unclaimed sectors of the last cluster, after the file
  std::vector<std::uint8_t> directory;  // the directory stream, whose names tell the kind
};

// Rebuilds the compound file whose header is at hitOffset when the plain
// rebuild (every unclaimed sector after the start) does not hold together.
// The file's own bookkeeping names the role of its sectors; those whose role
// can be checked alone (FAT, DIFAT and directory sectors, the first sector of
// WordDocument, Word's text through the piece table) fix where the clusters
// of foreign data must lie, and the rest goes where the foreign clusters
// look least like the document. Claims nothing, and uses no sector another
// file has claimed. Nothing unless the result passes the structure and
// content checks; bounded in work and time per document. Needs 512-byte
// source sectors.
std::optional<Reassembly> ReassembleCompound(RescueRun& run, std::int64_t hitOffset);

}  // namespace vellumark
