#include "formats/fat/exfat_directory.h"

#include <algorithm>

#include "formats/fat/fat_layout.h"
#include "formats/text_utf16.h"

namespace vellumark {

namespace layout = fat_layout;

namespace {

constexpr std::size_t kEntry = layout::kEntrySize;
// A set holds a file entry, a stream entry and 1 to 17 name entries.
constexpr std::uint8_t kLargestSecondaryCount = 18;
constexpr std::uint16_t kAttributeDirectory = 0x10;

std::optional<FatTimestamp> ExfatTime(std::uint32_t stamp) {
  return FatDateTime(static_cast<std::uint16_t>(stamp >> 16), static_cast<std::uint16_t>(stamp & 0xFFFF));
}

// The set checksum covers every byte of the set but the checksum field.
std::uint16_t SetChecksum(ByteView set) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < set.Size(); ++i) {
    if (i == layout::kExfatSetChecksum || i == layout::kExfatSetChecksum + 1) continue;
    sum = static_cast<std::uint16_t>(((sum & 1) != 0 ? 0x8000 : 0) + (sum >> 1) + set.Data()[i]);
  }
  return sum;
}

std::uint8_t Live(std::uint8_t type) { return static_cast<std::uint8_t>(type | layout::kExfatInUse); }

}  // namespace

std::optional<ExfatBootFacts> ParseExfatBootSector(ByteView sector) {
  if (!sector.Equals(layout::kExfatOemName, "EXFAT   ")) return std::nullopt;
  const auto volume = sector.Le64(layout::kExfatVolumeLength);
  const auto fat = sector.Le32(layout::kExfatFatOffset);
  const auto fatLength = sector.Le32(layout::kExfatFatLength);
  const auto heap = sector.Le32(layout::kExfatHeapOffset);
  const auto clusters = sector.Le32(layout::kExfatClusterCount);
  const auto root = sector.Le32(layout::kExfatRootCluster);
  const auto sectorShift = sector.Byte(layout::kExfatSectorShift);
  const auto clusterShift = sector.Byte(layout::kExfatClusterShift);
  if (!volume || !fat || !fatLength || !heap || !clusters || !root || !sectorShift || !clusterShift) return std::nullopt;
  // 512-byte to 4 KiB sectors, clusters up to 32 MiB.
  if (*sectorShift < 9 || *sectorShift > 12 || *sectorShift + *clusterShift > 25) return std::nullopt;
  ExfatBootFacts facts;
  facts.bytesPerSector = 1u << *sectorShift;
  facts.sectorsPerCluster = 1u << *clusterShift;
  facts.volumeSectors = *volume;
  facts.fatSector = *fat;
  facts.fatSectors = *fatLength;
  facts.heapSector = *heap;
  facts.clusterCount = *clusters;
  facts.rootCluster = *root;
  if (facts.heapSector == 0 || facts.heapSector >= facts.volumeSectors) return std::nullopt;
  return facts;
}

std::vector<ExfatFileEntry> ParseExfatDirectory(ByteView bytes) {
  std::vector<ExfatFileEntry> files;
  std::size_t at = 0;
  while (bytes.Has(at, kEntry)) {
    const std::uint8_t type = *bytes.Byte(at);
    if (type == 0x00) break;  // the end of the directory
    if (Live(type) != layout::kExfatFile) {
      at += kEntry;
      continue;
    }
    const bool deleted = (type & layout::kExfatInUse) == 0;
    const std::uint8_t secondaries = *bytes.Byte(at + layout::kExfatSecondaryCount);
    const auto set = bytes.Bytes(at, (std::size_t{secondaries} + 1) * kEntry);
    if (secondaries < 2 || secondaries > kLargestSecondaryCount || !set) {
      at += kEntry;
      continue;
    }
    const std::uint8_t streamType = *set->Byte(kEntry);
    const bool streamFits = Live(streamType) == layout::kExfatStream && ((streamType & layout::kExfatInUse) == 0) == deleted;
    const std::uint8_t nameLength = *set->Byte(kEntry + layout::kExfatNameLength);
    const std::size_t nameEntries = (std::size_t{nameLength} + layout::kExfatNameUnits - 1) / layout::kExfatNameUnits;
    bool namesFit = nameLength > 0 && nameEntries + 1 <= secondaries;
    for (std::size_t k = 0; namesFit && k < nameEntries; ++k) {
      namesFit = Live(*set->Byte((2 + k) * kEntry)) == layout::kExfatName;
    }
    if (!streamFits || !namesFit || (!deleted && SetChecksum(*set) != *set->Le16(layout::kExfatSetChecksum))) {
      at += kEntry;
      continue;
    }
    ExfatFileEntry file;
    file.deleted = deleted;
    file.offset = at;
    file.directory = (*set->Le16(layout::kExfatAttributes) & kAttributeDirectory) != 0;
    file.created = ExfatTime(*set->Le32(layout::kExfatCreated));
    file.modified = ExfatTime(*set->Le32(layout::kExfatModified));
    const ByteView stream = *set->Bytes(kEntry, kEntry);
    file.contiguous = (*stream.Byte(layout::kExfatStreamFlags) & layout::kExfatNoFatChain) != 0;
    file.validSize = *stream.Le64(layout::kExfatValidLength);
    file.firstCluster = *stream.Le32(layout::kExfatFirstCluster);
    file.size = *stream.Le64(layout::kExfatDataLength);
    for (std::size_t k = 0; k < nameEntries; ++k) {
      const std::size_t units = std::min<std::size_t>(layout::kExfatNameUnits, nameLength - k * layout::kExfatNameUnits);
      file.name += Utf16LeToUtf8(*set, (2 + k) * kEntry + layout::kExfatNameText, units);
    }
    files.push_back(std::move(file));
    at += set->Size();
  }
  return files;
}

std::optional<ExfatBitmapPlace> FindExfatBitmap(ByteView rootDirectory) {
  for (std::size_t at = 0; rootDirectory.Has(at, kEntry); at += kEntry) {
    const std::uint8_t type = *rootDirectory.Byte(at);
    if (type == 0x00) break;
    if (type != layout::kExfatBitmap || (*rootDirectory.Byte(at + layout::kExfatBitmapFlags) & 1) != 0) continue;
    ExfatBitmapPlace place;
    place.firstCluster = *rootDirectory.Le32(at + layout::kExfatBitmapFirstCluster);
    place.length = *rootDirectory.Le64(at + layout::kExfatBitmapLength);
    if (place.firstCluster < 2 || place.length == 0) continue;
    return place;
  }
  return std::nullopt;
}

}  // namespace vellumark
