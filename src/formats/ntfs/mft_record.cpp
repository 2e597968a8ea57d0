#include "formats/ntfs/mft_record.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "formats/ntfs/ntfs_layout.h"
#include "formats/text_utf16.h"

namespace vellumark {

namespace layout = ntfs_layout;

namespace {

constexpr std::uint64_t kFileTimeTo1970 = 116'444'736'000'000'000ULL;
// A record larger than this is no record: NTFS writes 1 KiB or 4 KiB ones.
constexpr std::uint32_t kLargestRecord = 65536;
// Attributes read per record: a record holds a few dozen at most.
constexpr int kMostAttributes = 256;

// A little-endian number of width bytes (0 to 8), signed when asked.
std::optional<std::int64_t> Number(ByteView bytes, std::size_t at, std::size_t width, bool isSigned) {
  if (width > 8 || !bytes.Has(at, width)) return std::nullopt;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value |= static_cast<std::uint64_t>(*bytes.Byte(at + i)) << (8 * i);
  if (isSigned && width > 0 && width < 8 && (value >> (8 * width - 1)) != 0) value |= ~std::uint64_t{0} << (8 * width);
  return static_cast<std::int64_t>(value);
}

void ReadFileName(ByteView value, MftRecordFacts& facts) {
  const auto parent = value.Le64(layout::kNameParent);
  const auto created = value.Le64(layout::kNameCreated);
  const auto modified = value.Le64(layout::kNameModified);
  const auto length = value.Byte(layout::kNameLength);
  const auto nameSpace = value.Byte(layout::kNameSpace);
  if (!parent || !created || !modified || !length || !nameSpace) return;
  if (!value.Has(layout::kNameText, std::size_t{*length} * 2)) return;
  NtfsFileName name;
  name.parentRecord = *parent & 0xFFFF'FFFF'FFFFULL;
  name.parentSequence = static_cast<std::uint16_t>(*parent >> 48);
  name.created = FileTimeToUnix(*created);
  name.modified = FileTimeToUnix(*modified);
  name.nameSpace = *nameSpace;
  name.name = Utf16LeToUtf8(value, layout::kNameText, *length);
  facts.names.push_back(std::move(name));
}

// The unnamed $DATA attribute (a named one is an alternate stream).
void ReadData(ByteView attribute, bool nonResident, MftRecordFacts& facts) {
  if (facts.hasData) return;
  if (!nonResident) {
    const auto length = attribute.Le32(layout::kResidentValueLength);
    if (!length) return;
    facts.hasData = true;
    facts.dataResident = true;
    facts.dataSize = *length;
    return;
  }
  const auto firstVcn = attribute.Le64(layout::kNonResidentFirstVcn);
  const auto runsAt = attribute.Le16(layout::kNonResidentRunsOffset);
  if (!firstVcn || !runsAt) return;
  const auto list = attribute.From(*runsAt);
  if (!list) return;
  auto runs = ParseDataRuns(*list);
  if (!runs) return;
  facts.hasData = true;
  facts.firstVcn = *firstVcn;
  // Only the attribute's first piece states the sizes.
  if (*firstVcn == 0) {
    const auto size = attribute.Le64(layout::kNonResidentDataSize);
    if (!size) return;
    facts.dataSize = *size;
  }
  facts.runs = std::move(*runs);
}

}  // namespace

std::int64_t FileTimeToUnix(std::uint64_t fileTime) {
  if (fileTime < kFileTimeTo1970) return -static_cast<std::int64_t>((kFileTimeTo1970 - fileTime) / 10'000'000);
  return static_cast<std::int64_t>((fileTime - kFileTimeTo1970) / 10'000'000);
}

std::optional<NtfsBootFacts> ParseNtfsBootSector(ByteView sector) {
  if (!sector.Equals(layout::kBootOemName, "NTFS    ")) return std::nullopt;
  NtfsBootFacts facts;
  const auto bytes = sector.Le16(layout::kBootBytesPerSector);
  const auto spc = sector.Byte(layout::kBootSectorsPerCluster);
  const auto total = sector.Le64(layout::kBootTotalSectors);
  const auto mft = sector.Le64(layout::kBootMftCluster);
  const auto perRecord = sector.Byte(layout::kBootClustersPerRecord);
  if (!bytes || !spc || !total || !mft || !perRecord) return std::nullopt;
  if (*bytes < 512 || !std::has_single_bit(*bytes) || *spc == 0) return std::nullopt;
  facts.bytesPerSector = *bytes;
  // Clusters above 64 KiB store their size as a negative power of two.
  facts.sectorsPerCluster = *spc <= 0x80 ? *spc : 0;
  if (*spc > 0x80) {
    const unsigned shift = 256u - *spc;
    if (shift > 31) return std::nullopt;
    const std::uint64_t clusterBytes = std::uint64_t{1} << shift;
    if (clusterBytes < *bytes) return std::nullopt;
    facts.sectorsPerCluster = static_cast<std::uint32_t>(clusterBytes / *bytes);
  }
  facts.totalSectors = *total;
  facts.mftCluster = *mft;
  const auto signedPerRecord = static_cast<std::int8_t>(*perRecord);
  std::uint64_t recordBytes = 0;
  if (signedPerRecord < 0) {
    if (-signedPerRecord > 31) return std::nullopt;
    recordBytes = std::uint64_t{1} << -signedPerRecord;
  } else {
    recordBytes = std::uint64_t{static_cast<std::uint8_t>(signedPerRecord)} * facts.sectorsPerCluster * *bytes;
  }
  if (recordBytes < layout::kFixupStride || recordBytes > kLargestRecord) return std::nullopt;
  facts.recordSize = static_cast<std::uint32_t>(recordBytes);
  return facts;
}

std::optional<std::vector<DataRun>> ParseDataRuns(ByteView list) {
  std::vector<DataRun> runs;
  std::int64_t cluster = 0;
  std::size_t at = 0;
  while (true) {
    const auto header = list.Byte(at);
    if (!header) return std::nullopt;
    if (*header == 0) break;
    const std::size_t lengthWidth = *header & 0x0F;
    const std::size_t offsetWidth = *header >> 4;
    const auto length = Number(list, at + 1, lengthWidth, false);
    const auto offset = Number(list, at + 1 + lengthWidth, offsetWidth, true);
    if (!length || !offset || *length <= 0) return std::nullopt;
    DataRun run;
    run.length = static_cast<std::uint64_t>(*length);
    if (offsetWidth > 0) {
      // Wrapping arithmetic is no cluster: refuse it rather than overflow.
      if ((*offset > 0 && cluster > INT64_MAX - *offset) || cluster + *offset < 0) return std::nullopt;
      cluster += *offset;
      run.cluster = static_cast<std::uint64_t>(cluster);
    }
    runs.push_back(run);
    at += 1 + lengthWidth + offsetWidth;
  }
  return runs;
}

const NtfsFileName* MftRecordFacts::PreferredName() const {
  const NtfsFileName* chosen = nullptr;
  for (const NtfsFileName& name : names) {
    if (chosen == nullptr || (chosen->nameSpace == layout::kNameSpaceDos && name.nameSpace != layout::kNameSpaceDos)) {
      chosen = &name;
    }
  }
  return chosen;
}

std::optional<MftRecordFacts> ParseMftRecord(ByteView record) {
  if (!record.Equals(0, std::string_view(layout::kRecordSignature, 4))) return std::nullopt;
  const auto allocated = record.Le32(layout::kAllocatedSize);
  const auto usaOffset = record.Le16(layout::kUpdateSequenceOffset);
  const auto usaCount = record.Le16(layout::kUpdateSequenceCount);
  if (!allocated || !usaOffset || !usaCount) return std::nullopt;
  if (*allocated < layout::kFixupStride || *allocated > kLargestRecord || *allocated % layout::kFixupStride != 0) {
    return std::nullopt;
  }
  const auto bytes = record.Bytes(0, *allocated);
  if (!bytes) return std::nullopt;
  // One sequence number, then one saved pair of bytes per stride.
  const std::size_t strides = *allocated / layout::kFixupStride;
  if (*usaCount != strides + 1 || !bytes->Has(*usaOffset, std::size_t{*usaCount} * 2)) return std::nullopt;
  std::vector<std::uint8_t> copy(bytes->begin(), bytes->end());
  const std::uint16_t sequence = *bytes->Le16(*usaOffset);
  for (std::size_t i = 0; i < strides; ++i) {
    const std::size_t end = (i + 1) * layout::kFixupStride - 2;
    if (*bytes->Le16(end) != sequence) return std::nullopt;
    copy[end] = copy[*usaOffset + 2 + 2 * i];
    copy[end + 1] = copy[*usaOffset + 3 + 2 * i];
  }
  const ByteView fixed(copy.data(), copy.size());

  MftRecordFacts facts;
  const std::uint16_t flags = *fixed.Le16(layout::kFlags);
  facts.inUse = (flags & layout::kFlagInUse) != 0;
  facts.directory = (flags & layout::kFlagDirectory) != 0;
  facts.sequence = *fixed.Le16(layout::kSequenceNumber);
  facts.baseRecord = *fixed.Le64(layout::kBaseRecord) & 0xFFFF'FFFF'FFFFULL;
  const std::uint16_t firstAttribute = *fixed.Le16(layout::kFirstAttribute);
  // The record number is stated where the header leaves room for it before
  // the update sequence (NTFS 3.1 puts the sequence at 48).
  if (*usaOffset >= layout::kRecordNumber + 4) facts.recordNumber = fixed.Le32(layout::kRecordNumber);
  const std::uint32_t used = std::min<std::uint32_t>(*fixed.Le32(layout::kUsedSize), *allocated);

  std::size_t at = firstAttribute;
  for (int count = 0; count < kMostAttributes; ++count) {
    const auto type = fixed.Le32(at + layout::kAttributeType);
    if (!type || *type == layout::kTypeEnd) break;
    const auto length = fixed.Le32(at + layout::kAttributeLength);
    const auto nonResident = fixed.Byte(at + layout::kAttributeNonResident);
    const auto nameLength = fixed.Byte(at + layout::kAttributeNameLength);
    if (!length || !nonResident || !nameLength || *length < 24 || *length % 8 != 0 || at + *length > used) break;
    const ByteView attribute = *fixed.Bytes(at, *length);
    if (*type == layout::kTypeFileName && *nonResident == 0) {
      const auto valueLength = attribute.Le32(layout::kResidentValueLength);
      const auto valueOffset = attribute.Le16(layout::kResidentValueOffset);
      if (valueLength && valueOffset) {
        if (const auto value = attribute.Bytes(*valueOffset, *valueLength)) ReadFileName(*value, facts);
      }
    } else if (*type == layout::kTypeData && *nameLength == 0) {
      if (*nonResident == 0 || attribute.Size() >= layout::kNonResidentHeaderMinimum) {
        ReadData(attribute, *nonResident != 0, facts);
      }
    }
    at += *length;
  }
  return facts;
}

}  // namespace vellumark
