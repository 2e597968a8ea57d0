#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "access/sector_source.h"
#include "common/front_end.h"
#include "rescue/carve_memory.h"
#include "rescue/claim_map.h"
#include "rescue/document_record.h"
#include "rescue/file_type_code.h"
#include "rescue/saved_documents.h"

namespace vellumark {

class DocumentWriter;
class MeasureAhead;

// A sector at which the classifier recognised something.
struct SectorHit {
  std::int64_t sector = 0;
  FileTypeCode code = code::kNone;

  friend bool operator==(const SectorHit&, const SectorHit&) = default;
};

// Pause and stop of the carve phase, set by the rescue window's buttons.
enum RunState : std::uint8_t { kRunning = 0, kPaused = 1, kStopped = 2 };

// The state of one rescue, read and written by the deep scan and the carvers.
struct RescueRun {
  RescueRun(SectorSource& sectorSource, FrontEnd& front) : source(sectorSource), frontEnd(front) {}

  SectorSource& source;
  FrontEnd& frontEnd;

  std::string saveFolder;  // ends in '/'
  std::int64_t firstSector = 0;
  std::int64_t lastSector = -1;
  std::int64_t total = 0;
  std::vector<SectorHit> hits;  // in the order found, ascending by sector
  std::int32_t found = 0;
  std::uint8_t quietCounter = 0;
  std::uint8_t searchStop = 1;
  std::uint8_t runState = kRunning;
  std::int32_t rescued = 0;
  std::int32_t notWritten = 0;  // documents found and to be saved, but not written
  std::string writeFailure;     // the first reason one was not written
  ClaimMap claims;
  std::uint32_t spc = 1;
  std::int32_t knownPhase = -1;
  std::int32_t chosenPhase = -1;
  TypeMask typeMask = type_mask::kInitial;
  std::vector<DocumentRecord> documents;  // compound files walked in this run
  // Where saved documents go to be inspected while the carving goes on;
  // none, and the report reads each back at the end.
  SavedDocuments* savedDocuments = nullptr;
  // Where saved documents are written on a thread of their own while the
  // carving goes on (their records learn the outcome when it finishes);
  // none, and each is written before the carving goes on.
  DocumentWriter* writer = nullptr;
  // Where the bzip2 streams ahead are measured on a thread of their own;
  // none, and each is measured as the carving comes to it.
  MeasureAhead* measureAhead = nullptr;
  CarveMemory memory;                      // what attempts found out about the sectors ahead
  // The image buffer of the last carve attempt, kept for the next one: most
  // attempts fail within a few sectors, and a buffer allocated afresh for
  // each would cost its page faults every time.
  std::vector<std::uint8_t> spareImage;
  // Sectors the carve attempts stepped over or claimed one at a time: the
  // carving's work, which must grow with the source, not with its square.
  std::int64_t carveSteps = 0;
  // The work of reading the text of office packages no rebuild held
  // together: bounded in all by the source's size, as each is by its own
  // budget, so that a source full of crafted packages stays linear.
  std::uint64_t salvageWork = 0;

  std::uint32_t BytesPerSector() const { return source.ScanGeometry().BytesPerSector; }
  std::int64_t LastSourceSector() const { return source.ScanGeometry().LastSector; }
};

}  // namespace vellumark
