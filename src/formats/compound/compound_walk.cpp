#include "formats/compound/compound_walk.h"

#include <cstring>

#include "formats/compound/compound_layout.h"
#include "formats/file_signatures.h"

namespace vellumark::compound {
namespace {

bool NameIs(ByteView entry, std::size_t characters, const char* name) {
  if (std::strlen(name) != characters) return false;
  for (std::size_t i = 0; i < characters; ++i) {
    if (entry.Le16(2 * i) != static_cast<std::uint8_t>(name[i])) return false;
  }
  return true;
}

bool Holds(ByteView bytes, std::int64_t end) { return static_cast<std::int64_t>(bytes.Size()) >= end; }

}  // namespace

WalkStep CompoundWalk::Step(ByteView bytes) {
  WalkStep step{ZipStep::Done, 0, {}};
  while (step.step == ZipStep::Done && stage_ != Stage::Done) {
    switch (stage_) {
      case Stage::Header: step = StepHeader(bytes); break;
      case Stage::ListedFat: step = StepListedFat(bytes); break;
      case Stage::DifatChain: step = StepDifatChain(bytes); break;
      case Stage::FatSize: step = StepFatSize(); break;
      case Stage::Directory: step = StepDirectory(bytes); break;
      case Stage::Done: break;
    }
    // The file ends where the FAT says; until the last stage, that is where
    // the bytes at hand end.
    if (stage_ == Stage::FatSize) fileBytes_ = static_cast<std::int64_t>(bytes.Size());
  }
  return step;
}

WalkStep CompoundWalk::StepHeader(ByteView bytes) {
  if (!Holds(bytes, kSectorSize)) return {ZipStep::NeedBytes, kSectorSize, {}};
  if (!bytes.Equals(header::kSignature, signature::kCompoundDocument)) return Broken("no compound file signature");
  if (bytes.Le32(header::kByteOrder) != header::kLittleEndian512) return Broken("not little-endian with 512-byte sectors");
  stage_ = Stage::ListedFat;
  return Onward();
}

// Writers list FAT sectors in any order (Word itself often does), so the
// order is not checked; a sector listed twice, or more FAT sectors than a
// file of the largest size needs, means the header is damaged.
WalkStep CompoundWalk::AddFatSector(ByteView bytes, std::uint32_t sector, bool& added) {
  added = false;
  if (!IsSector(sector) || static_cast<std::int64_t>(fat_.size()) >= largestFile_ / 512)
    return Broken("FAT sector " + std::to_string(sector) + " lies beyond the largest file");
  if (fatSectors_.contains(sector)) return Broken("FAT sector " + std::to_string(sector) + " listed twice");
  if (!Holds(bytes, Through(sector))) return Need(sector);
  for (std::size_t k = 0; k < kWordsPerSector; ++k) fat_.push_back(*bytes.Le32(SectorOffset(sector) + 4 * k));
  fatSectors_.insert(sector);
  added = true;
  return Onward();
}

WalkStep CompoundWalk::StepListedFat(ByteView bytes) {
  for (; index_ < header::kListedFatSectors; ++index_) {
    const std::uint32_t sector = *bytes.Le32(header::kFatSectorList + 4 * index_);
    if (sector == kFree) break;
    bool added = false;
    WalkStep step = AddFatSector(bytes, sector, added);
    if (!added) return step;
  }
  // Writers end the DIFAT chain with end-of-chain, and some (LibreOffice
  // among them) with the free mark; both mean there is no further sector.
  sector_ = *bytes.Le32(header::kFirstDifatSector);
  index_ = 0;
  stage_ = Stage::DifatChain;
  return Onward();
}

WalkStep CompoundWalk::StepDifatChain(ByteView bytes) {
  while (sector_ != kEndOfChain && sector_ != kFree) {
    if (index_ == 0) {
      if (!IsSector(sector_)) return Broken("DIFAT sector " + std::to_string(sector_) + " lies beyond the largest file");
      if (difatSectors_.contains(sector_)) return Broken("DIFAT chain loops at sector " + std::to_string(sector_));
      if (!Holds(bytes, Through(sector_))) return Need(sector_);
      difatSectors_.insert(sector_);
    }
    for (; index_ < difat::kFatSectorsPerSector; ++index_) {
      const std::uint32_t listed = *bytes.Le32(SectorOffset(sector_) + 4 * index_);
      if (listed == kFree) break;
      bool added = false;
      WalkStep step = AddFatSector(bytes, listed, added);
      if (!added) return step;
    }
    sector_ = *bytes.Le32(SectorOffset(sector_) + difat::kNextSector);
    index_ = 0;
  }
  stage_ = Stage::FatSize;
  return Onward();
}

// The file ends with the last sector the FAT has in use. On disks whose
// sectors are larger than the file's, the last disk sector also holds bytes
// past that end; they are not part of the document.
WalkStep CompoundWalk::StepFatSize() {
  for (std::size_t i = fat_.size(); i-- > 0;) {
    if (fat_[i] == kFree) continue;
    const std::int64_t size = (static_cast<std::int64_t>(i) + 2) * 512;
    if (size > largestFile_) return Broken("the FAT reaches beyond the largest file");
    fileBytes_ = size;
    break;
  }
  sector_ = kEndOfChain;
  stage_ = Stage::Directory;
  index_ = 0;
  return {ZipStep::NeedBytes, fileBytes_, {}};
}

// Documents with many embedded objects have long directories, so the chain
// is not cut at a fixed length; a sector met twice is a loop.
WalkStep CompoundWalk::StepDirectory(ByteView bytes) {
  if (index_ == 0) {
    sector_ = *bytes.Le32(header::kFirstDirectorySector);
    index_ = 1;
  }
  while (sector_ != kEndOfChain) {
    if (!IsSector(sector_)) return Broken("directory sector " + std::to_string(sector_) + " lies beyond the largest file");
    if (directorySectors_.contains(sector_))
      return Broken("directory chain loops at sector " + std::to_string(sector_));
    if (!Holds(bytes, Through(sector_))) return Need(sector_);
    const auto data = bytes.Bytes(SectorOffset(sector_), kSectorSize);
    directory_.insert(directory_.end(), data->begin(), data->end());
    directorySectors_.insert(sector_);
    // The chain's next link must lie inside the FAT that was read.
    if (sector_ >= fat_.size()) return Broken("directory chain leaves the FAT at sector " + std::to_string(sector_));
    sector_ = fat_[sector_];
  }
  stage_ = Stage::Done;
  return Onward();
}

DocumentKind CompoundKindOf(ByteView directory) {
  static constexpr struct {
    const char* name;
    DocumentKind kind;
  } kStreams[] = {
      {"WordDocument", DocumentKind::Word},
      {"Workbook", DocumentKind::Excel},
      {"PowerPoint Document", DocumentKind::PowerPoint},
      // Excel 5.0 and 95 keep their workbook in a stream of this name.
      {"Book", DocumentKind::Excel},
  };
  for (std::size_t at = 0; at + entry::kSize <= directory.Size(); at += entry::kSize) {
    const auto raw = directory.Bytes(at, entry::kSize);
    const std::uint16_t length = raw->Le16(entry::kNameBytes).value_or(0);
    if (length < 4 || length > entry::kLongestName) break;  // an unused entry ends the walk
    const std::size_t characters = (length - 2u) / 2u;
    for (const auto& stream : kStreams) {
      if (NameIs(*raw, characters, stream.name)) return stream.kind;
    }
  }
  return DocumentKind::Other;
}

}  // namespace vellumark::compound
