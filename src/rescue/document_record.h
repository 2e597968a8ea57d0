#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/document_kind.h"

namespace vellumark {

// A stretch of consecutive source sectors.
struct SectorRun {
  std::int64_t first = 0;
  std::int64_t count = 0;

  friend bool operator==(const SectorRun&, const SectorRun&) = default;
};

// A compound file the carver walked through: where it came from and what
// became of it. Sectors stepped over because another file had claimed them
// split the runs.
struct DocumentRecord {
  std::string outputName;  // the file written; empty when its kind is not saved
  DocumentKind kind = DocumentKind::Other;
  std::int64_t startSector = 0;
  std::int64_t length = 0;  // bytes of the rebuilt file
  std::vector<SectorRun> runs;  // the source sectors it was rebuilt from, in order
  bool saved = false;
  std::string saveFailure;  // why it could not be written, when it could not
  std::vector<std::int64_t> unreadableSectors;  // source sectors written as zeros
  // Rebuilt around clusters of foreign data rather than from every unclaimed
  // sector after its start; its runs are the clusters it was given.
  bool reassembled = false;
  // Not the document but its text, as UTF-8, from the clusters of it that
  // checked when no rebuild of it held together; its runs are those clusters.
  bool partialText = false;
  // For such text, the share of the document's text part it was read from,
  // in percent; -1 where it is not measured.
  int recoveredPercent = -1;
  // Set on the record of a document whose header the search found but which
  // no rebuild brought back: it has no runs and no file, and is listed so
  // that no document found goes unmentioned.
  bool notRebuilt = false;
  // For such a header lying inside a document already rebuilt (a copy of
  // part of it, or one embedded in it): that document's start sector.
  std::int64_t insideDocumentAt = -1;
  // What the file system's own records say of the file this document was,
  // where one of them begins at its start sector with its size: its name,
  // folder (from the volume's root, '/' between names) and times. Empty
  // where no record matched.
  std::string originalName{};
  std::string originalFolder{};
  std::string originalCreated{};
  std::string originalModified{};
  // The first sector of the volume (partition) the document lay in; -1
  // where the source holds no volume known by its boot sector.
  std::int64_t volumeStart = -1;
  std::int64_t bytesPerSector = 512;  // of the source sectors the runs count

  friend bool operator==(const DocumentRecord&, const DocumentRecord&) = default;
};

// Whether one of the runs holds the sector.
bool RunsHold(const std::vector<SectorRun>& runs, std::int64_t sector);

// The runs of the first count sectors of a list, in order.
std::vector<SectorRun> RunsOf(const std::vector<std::int64_t>& sectors, std::size_t count);

}  // namespace vellumark
