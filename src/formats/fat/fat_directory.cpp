#include "formats/fat/fat_directory.h"

#include <bit>
#include <cstdio>

#include "formats/fat/fat_layout.h"
#include "formats/text_utf16.h"

namespace vellumark {

namespace layout = fat_layout;

namespace {

// Below 4085 clusters a volume is FAT12, below 65525 FAT16: the count, not
// the label, decides how the FAT is read.
constexpr std::uint64_t kFat12Clusters = 4085;

std::uint8_t ShortNameChecksum(const std::uint8_t* name) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

// The 8.3 name as text, lower-cased where Windows' flags at byte 12 say
// the base or the extension was written in lower case.
std::string ShortNameText(const std::uint8_t* raw, std::uint8_t caseFlags) {
  const auto part = [&](int from, int to, bool lower) {
    std::string text;
    for (int i = from; i < to; ++i) {
      char c = static_cast<char>(raw[i]);
      if (i == 0 && raw[i] == 0x05) c = static_cast<char>(0xE5);
      if (static_cast<std::uint8_t>(c) >= 0x80 || static_cast<std::uint8_t>(c) < 0x20) c = '_';
      if (lower && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      text += c;
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  };
  const std::string base = part(0, 8, (caseFlags & 0x08) != 0);
  const std::string extension = part(8, 11, (caseFlags & 0x10) != 0);
  return extension.empty() ? base : base + "." + extension;
}

struct LongPiece {
  std::uint8_t ordinal = 0;
  std::uint8_t checksum = 0;
  bool deleted = false;
  bool ended = false;  // a NUL or padding within its 13 units: the name's last piece
  std::string text;
};

LongPiece ReadLongPiece(ByteView entry) {
  LongPiece piece;
  piece.ordinal = *entry.Byte(layout::kLongOrdinal);
  piece.checksum = *entry.Byte(layout::kLongChecksum);
  piece.deleted = piece.ordinal == layout::kDeletedMark;
  // The 13 units end at a NUL, the rest padded with 0xFFFF.
  for (const auto& [at, units] : layout::kLongPieces) {
    const std::string text = Utf16LeToUtf8(entry, at, units, true);
    piece.text += text;
    for (std::size_t i = 0; i < units; ++i) {
      const auto unit = entry.Le16(at + 2 * i);
      if (*unit == 0 || *unit == 0xFFFF) piece.ended = true;
    }
    if (piece.ended) break;
  }
  return piece;
}

// The long name the pieces before a short entry spell, when they belong to
// it; for a deleted entry, also the first byte its short name had.
std::optional<std::string> JoinLongName(const std::vector<LongPiece>& pieces, std::uint8_t* shortName, bool deleted) {
  if (pieces.empty()) return std::nullopt;
  // Every piece but the name's last one is full.
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    if (pieces[i].ended) return std::nullopt;
  }
  if (!deleted) {
    // Last piece first, each flagged with its place, down to 1.
    const std::size_t n = pieces.size();
    if ((pieces[0].ordinal & layout::kLongLast) == 0) return std::nullopt;
    for (std::size_t i = 0; i < n; ++i) {
      if ((pieces[i].ordinal & 0x1F) != n - i || pieces[i].deleted) return std::nullopt;
      if (pieces[i].checksum != ShortNameChecksum(shortName)) return std::nullopt;
    }
  } else {
    // Exactly one first byte gives any checksum: the check here is that it
    // is one a short name may start with.
    bool matched = false;
    for (int first = 0x20; first <= 0xFF && !matched; ++first) {
      if (first == '.' || first == layout::kDeletedMark) continue;
      shortName[0] = static_cast<std::uint8_t>(first);
      matched = ShortNameChecksum(shortName) == pieces[0].checksum;
    }
    if (!matched) {
      shortName[0] = '_';
      return std::nullopt;
    }
  }
  std::string name;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) name += it->text;
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace

std::string FatTimestampText(const FatTimestamp& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return text;
}

std::optional<FatTimestamp> FatDateTime(std::uint16_t date, std::uint16_t time) {
  if (date == 0) return std::nullopt;
  FatTimestamp t;
  t.year = 1980 + (date >> 9);
  t.month = (date >> 5) & 0x0F;
  t.day = date & 0x1F;
  t.hour = time >> 11;
  t.minute = (time >> 5) & 0x3F;
  t.second = (time & 0x1F) * 2;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
  return t;
}

std::optional<FatBootFacts> ParseFatBootSector(ByteView sector) {
  FatBootFacts facts;
  if (sector.Equals(layout::kLabel32, "FAT32   ")) {
    facts.fatBits = 32;
  } else if (sector.Equals(layout::kLabel16, "FAT12   ") || sector.Equals(layout::kLabel16, "FAT16   ")) {
    facts.fatBits = 16;
  } else {
    return std::nullopt;
  }
  const auto bytes = sector.Le16(layout::kBytesPerSector);
  const auto spc = sector.Byte(layout::kSectorsPerCluster);
  const auto reserved = sector.Le16(layout::kReservedSectors);
  const auto fats = sector.Byte(layout::kFatCount);
  const auto rootEntries = sector.Le16(layout::kRootEntries);
  const auto total16 = sector.Le16(layout::kTotalSectors16);
  const auto total32 = sector.Le32(layout::kTotalSectors32);
  const auto fat16 = sector.Le16(layout::kFatSize16);
  const auto fat32 = sector.Le32(layout::kFatSize32);
  const auto rootCluster = sector.Le32(layout::kRootCluster32);
  if (!bytes || !spc || !reserved || !fats || !rootEntries || !total16 || !total32 || !fat16 || !fat32 || !rootCluster) {
    return std::nullopt;
  }
  if (*bytes < 512 || !std::has_single_bit(*bytes) || *spc == 0 || !std::has_single_bit(*spc) || *fats == 0 ||
      *reserved == 0) {
    return std::nullopt;
  }
  facts.bytesPerSector = *bytes;
  facts.sectorsPerCluster = *spc;
  facts.totalSectors = *total16 != 0 ? *total16 : *total32;
  facts.firstFatSector = *reserved;
  facts.fatSectors = facts.fatBits == 32 ? *fat32 : *fat16;
  if (facts.fatSectors == 0) return std::nullopt;
  facts.rootEntries = *rootEntries;
  facts.rootSector = facts.firstFatSector + std::uint64_t{*fats} * facts.fatSectors;
  const std::uint64_t rootSectors = (std::uint64_t{*rootEntries} * layout::kEntrySize + *bytes - 1) / *bytes;
  facts.firstDataSector = facts.rootSector + rootSectors;
  if (facts.firstDataSector >= facts.totalSectors) return std::nullopt;
  facts.clusterCount = (facts.totalSectors - facts.firstDataSector) / *spc;
  if (facts.fatBits == 32) {
    facts.rootCluster = *rootCluster;
  } else if (facts.clusterCount < kFat12Clusters) {
    facts.fatBits = 12;
  }
  return facts;
}

std::vector<FatDirectoryEntry> ParseFatDirectory(ByteView bytes) {
  std::vector<FatDirectoryEntry> entries;
  std::vector<LongPiece> pieces;
  for (std::size_t at = 0; bytes.Has(at, layout::kEntrySize); at += layout::kEntrySize) {
    const ByteView entry = *bytes.Bytes(at, layout::kEntrySize);
    const std::uint8_t first = *entry.Byte(layout::kShortName);
    if (first == layout::kEndMark) break;
    const std::uint8_t attributes = *entry.Byte(layout::kAttributes);
    if ((attributes & 0x3F) == layout::kAttributeLongName) {
      LongPiece piece = ReadLongPiece(entry);
      // A new name starts at a piece flagged last, or where a deleted run's
      // checksum changes.
      const bool startsName = piece.deleted ? (pieces.empty() || !pieces.back().deleted ||
                                               pieces.back().checksum != piece.checksum)
                                            : (piece.ordinal & layout::kLongLast) != 0;
      if (startsName) pieces.clear();
      pieces.push_back(std::move(piece));
      continue;
    }
    const bool deleted = first == layout::kDeletedMark;
    std::uint8_t shortName[11];
    for (std::size_t i = 0; i < 11; ++i) shortName[i] = *entry.Byte(layout::kShortName + i);
    const bool dotEntry = shortName[0] == '.' && (shortName[1] == ' ' || shortName[1] == '.');
    if ((attributes & layout::kAttributeVolume) != 0 || dotEntry) {
      pieces.clear();
      continue;
    }
    FatDirectoryEntry parsed;
    parsed.deleted = deleted;
    // A deleted entry's pieces are deleted too, a live one's live.
    std::vector<LongPiece> own;
    for (const LongPiece& piece : pieces) {
      if (piece.deleted == deleted) own.push_back(piece);
    }
    const auto longName = JoinLongName(own, shortName, deleted);
    if (deleted && !longName) shortName[0] = '_';
    pieces.clear();
    parsed.shortName = ShortNameText(shortName, *entry.Byte(12));
    parsed.name = longName ? *longName : parsed.shortName;
    parsed.attributes = attributes;
    parsed.directory = (attributes & layout::kAttributeDirectory) != 0;
    parsed.firstCluster = static_cast<std::uint32_t>(*entry.Le16(layout::kClusterHigh)) << 16 |
                          *entry.Le16(layout::kClusterLow);
    parsed.size = *entry.Le32(layout::kFileSize);
    parsed.created = FatDateTime(*entry.Le16(layout::kCreatedDate), *entry.Le16(layout::kCreatedTime));
    parsed.modified = FatDateTime(*entry.Le16(layout::kModifiedDate), *entry.Le16(layout::kModifiedTime));
    parsed.offset = at;
    entries.push_back(std::move(parsed));
  }
  return entries;
}

}  // namespace vellumark
