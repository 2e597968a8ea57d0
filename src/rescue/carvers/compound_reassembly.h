#pragma once

#include <cstdint>
#include <optional>
#include <string>
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

// The text of a Word document that no placement brings back whole, read
// from the clusters of it that checked.
struct PartialText {
  std::string text;                   // UTF-8
  std::vector<std::int64_t> sectors;  // the source sectors of the clusters it was read from, in order
};

// What became of a reassembly: the whole file, or failing that perhaps the
// text of its parts that checked, or nothing.
struct ReassemblyOutcome {
  std::optional<Reassembly> whole;
  std::optional<PartialText> partial;
  std::uint64_t placementsEvaluated = 0;  // the work the search took
};

// Rebuilds the compound file whose header is at hitOffset when the plain
// rebuild (every unclaimed sector after the start) does not hold together.
// The file's own bookkeeping names the role of its sectors; those whose role
// can be checked alone (FAT, DIFAT and directory sectors, the first sector of
// WordDocument, Word's text through the piece table) fix where the clusters
// of foreign data must lie, and the rest goes where the foreign clusters
// look least like the document. Claims nothing, and uses no sector another
// file has claimed. No whole file unless the result passes the structure and
// content checks; then, for a Word document, the text of the clusters that
// did check, when its FAT, directory, FIB and piece table are among them.
// Bounded by counted work per document, never by time: the same source
// gives the same outcome on any machine. Needs 512-byte source sectors.
ReassemblyOutcome ReassembleCompound(RescueRun& run, std::int64_t hitOffset);

}  // namespace vellumark
