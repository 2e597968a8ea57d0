#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/byte_view.h"
#include "formats/document_kind.h"
#include "formats/zip/zip_archive.h"

namespace vellumark::compound {

// What one step of a walk found, as a ZIP record check says it: Done,
// NeedBytes (up to need, from the file's first byte) or Broken (fault).
struct WalkStep {
  ZipStep step = ZipStep::Broken;
  std::int64_t need = 0;
  std::string fault;
};

// Finds a compound file's length and directory from as much of the file as
// is at hand: the header, the FAT sectors it and the DIFAT list, then the
// directory's chain. The file ends with the last sector its FAT has in use.
//
// It is called again with more bytes each time it asks for them, and goes
// on where it stopped, so that a carver loads only what the file's own
// bookkeeping leads to and a walk that fails early costs only what it read.
// Files larger than largestFile are refused: the bound keeps any header,
// however hostile, from asking for more.
class CompoundWalk {
 public:
  explicit CompoundWalk(std::int64_t largestFile) : largestFile_(largestFile) {}

  WalkStep Step(ByteView bytes);

  std::int64_t FileBytes() const { return fileBytes_; }
  const std::vector<std::uint8_t>& Directory() const { return directory_; }

 private:
  enum class Stage : std::uint8_t { Header, ListedFat, DifatChain, FatSize, Directory, Done };

  // A stage done: the walk goes on to the next with the bytes it has.
  static WalkStep Onward() { return {ZipStep::Done, 0, {}}; }
  WalkStep Need(std::uint32_t sector) const { return {ZipStep::NeedBytes, Through(sector), {}}; }
  WalkStep Broken(std::string fault) { return {ZipStep::Broken, 0, std::move(fault)}; }
  std::int64_t Through(std::uint32_t sector) const { return (std::int64_t{sector} + 2) * 512; }
  bool IsSector(std::uint32_t sector) const { return Through(sector) <= largestFile_; }
  WalkStep AddFatSector(ByteView bytes, std::uint32_t sector, bool& added);
  WalkStep StepHeader(ByteView bytes);
  WalkStep StepListedFat(ByteView bytes);
  WalkStep StepDifatChain(ByteView bytes);
  WalkStep StepFatSize();
  WalkStep StepDirectory(ByteView bytes);

  const std::int64_t largestFile_;
  Stage stage_ = Stage::Header;
  std::size_t index_ = 0;        // the next header slot, DIFAT entry or directory sector
  std::uint32_t sector_ = 0;     // the DIFAT sector being read
  std::vector<std::uint32_t> fat_;
  // Sectors met on each chain. Sets of those met rather than a bit per
  // possible sector: most walks end after a few sectors, so the cost must
  // follow the walk, not the largest file.
  std::unordered_set<std::uint32_t> fatSectors_, difatSectors_, directorySectors_;
  std::vector<std::uint8_t> directory_;
  std::int64_t fileBytes_ = 0;
};

// The kind the first of the four stream names in directory order gives
// (WordDocument, Workbook, PowerPoint Document, or Excel 5.0 and 95's Book),
// in whatever storage it lies: Other when none is there.
DocumentKind CompoundKindOf(ByteView directory);

}  // namespace vellumark::compound
