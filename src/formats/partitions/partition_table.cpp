#include "formats/partitions/partition_table.h"

#include <vector>

#include "formats/checksum/crc32.h"
#include "formats/partitions/partition_layout.h"
#include "formats/text_utf16.h"

namespace vellumark {

namespace layout = partition_layout;

namespace {

std::optional<MbrEntry> EntryAt(ByteView sector, std::size_t index) {
  const std::size_t at = layout::kMbrEntries + index * layout::kMbrEntrySize;
  MbrEntry entry;
  const auto status = sector.Byte(at + layout::kEntryStatus);
  const auto type = sector.Byte(at + layout::kEntryType);
  const auto first = sector.Le32(at + layout::kEntryFirstLba);
  const auto count = sector.Le32(at + layout::kEntrySectorCount);
  if (!status || !type || !first || !count) return std::nullopt;
  entry.bootable = *status == 0x80;
  entry.type = *type;
  entry.firstLba = *first;
  entry.sectorCount = *count;
  return entry;
}

bool HasSignature(ByteView sector) {
  return sector.Byte(layout::kMbrSignature) == 0x55 && sector.Byte(layout::kMbrSignature + 1) == 0xAA;
}

std::uint32_t CrcOf(ByteView bytes) { return Crc32(0, bytes.Data(), bytes.Size()); }

}  // namespace

bool MbrEntry::IsExtended() const {
  return type == layout::kTypeExtendedChs || type == layout::kTypeExtendedLba || type == layout::kTypeExtendedLinux;
}

std::optional<std::vector<MbrEntry>> ParseMbr(ByteView sector) {
  if (!HasSignature(sector)) return std::nullopt;
  std::vector<MbrEntry> entries;
  for (std::size_t i = 0; i < layout::kMbrEntryCount; ++i) {
    const auto entry = EntryAt(sector, i);
    if (!entry) return std::nullopt;
    const auto status = sector.Byte(layout::kMbrEntries + i * layout::kMbrEntrySize);
    if (status != 0x00 && status != 0x80) return std::nullopt;
    if (entry->type == layout::kTypeEmpty || entry->sectorCount == 0) continue;
    entries.push_back(*entry);
  }
  // A record that lists nothing is no table: a file system's boot sector
  // carries the signature too, its code where the entries would be.
  if (entries.empty()) return std::nullopt;
  return entries;
}

bool IsProtectiveMbr(const std::vector<MbrEntry>& entries) {
  return entries.size() == 1 && entries[0].type == layout::kTypeGptProtective;
}

std::optional<ExtendedRecord> ParseExtendedRecord(ByteView sector) {
  const auto entries = ParseMbr(sector);
  if (!entries) return std::nullopt;
  ExtendedRecord record;
  for (const MbrEntry& entry : *entries) {
    if (entry.IsExtended()) {
      if (record.nextRelative == 0) record.nextRelative = entry.firstLba;
    } else if (!record.logical) {
      record.logical = entry;
    }
  }
  return record;
}

std::optional<GptHeader> ParseGptHeader(ByteView block) {
  if (!block.Equals(0, std::string_view(layout::kGptSignature, 8))) return std::nullopt;
  const auto headerSize = block.Le32(layout::kGptHeaderSizeField);
  const auto crc = block.Le32(layout::kGptHeaderCrc);
  if (!headerSize || !crc || *headerSize < layout::kGptHeaderMinimum) return std::nullopt;
  const auto header = block.Bytes(0, *headerSize);
  if (!header) return std::nullopt;
  // The CRC covers the header with its own CRC field read as zero.
  std::vector<std::uint8_t> copy(header->begin(), header->end());
  for (std::size_t i = 0; i < 4; ++i) copy[layout::kGptHeaderCrc + i] = 0;
  if (CrcOf(ByteView(copy.data(), copy.size())) != *crc) return std::nullopt;

  GptHeader parsed;
  parsed.myLba = *block.Le64(layout::kGptMyLba);
  parsed.firstUsable = *block.Le64(layout::kGptFirstUsable);
  parsed.lastUsable = *block.Le64(layout::kGptLastUsable);
  parsed.entriesLba = *block.Le64(layout::kGptEntriesLba);
  parsed.entryCount = *block.Le32(layout::kGptEntryCount);
  parsed.entrySize = *block.Le32(layout::kGptEntrySize);
  parsed.entriesCrc = *block.Le32(layout::kGptEntriesCrc);
  if (parsed.entrySize < layout::kGptEntryMinimum || parsed.entrySize % 8 != 0) return std::nullopt;
  return parsed;
}

std::optional<std::vector<GptEntry>> ParseGptEntries(ByteView entries, const GptHeader& header) {
  const std::uint64_t arrayBytes = std::uint64_t{header.entryCount} * header.entrySize;
  const auto array = entries.Bytes(0, arrayBytes);
  if (!array || CrcOf(*array) != header.entriesCrc) return std::nullopt;
  std::vector<GptEntry> parsed;
  for (std::uint64_t at = 0; at + header.entrySize <= arrayBytes; at += header.entrySize) {
    GptEntry entry;
    const auto guid = array->Array<16>(at + layout::kGptTypeGuid);
    bool used = false;
    for (const std::uint8_t b : *guid) used |= b != 0;
    if (!used) continue;
    entry.typeGuid = *guid;
    entry.firstLba = *array->Le64(at + layout::kGptFirstLba);
    entry.lastLba = *array->Le64(at + layout::kGptLastLba);
    if (entry.lastLba < entry.firstLba) continue;
    entry.name = Utf16LeToUtf8(*array, at + layout::kGptName, layout::kGptNameBytes / 2);
    parsed.push_back(entry);
  }
  return parsed;
}

}  // namespace vellumark
