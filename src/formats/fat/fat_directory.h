#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_view.h"

namespace vellumark {

// A date and time as FAT and exFAT store them (local time, two-second
// steps), broken down.
struct FatTimestamp {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;

  friend bool operator==(const FatTimestamp&, const FatTimestamp&) = default;
};
// "YYYY-MM-DD hh:mm:ss"
std::string FatTimestampText(const FatTimestamp& time);
// A stored date and time; nothing for a zero date or impossible fields.
std::optional<FatTimestamp> FatDateTime(std::uint16_t date, std::uint16_t time);

// Where a FAT12/16/32 volume's areas lie, in sectors from its boot sector.
struct FatBootFacts {
  int fatBits = 0;  // 12 or 16 (told apart by the cluster count), or 32
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t firstFatSector = 0;
  std::uint64_t fatSectors = 0;  // of one FAT
  std::uint64_t rootSector = 0;  // FAT12/16's fixed root directory
  std::uint32_t rootEntries = 0;
  std::uint32_t rootCluster = 0;  // FAT32's root directory
  std::uint64_t firstDataSector = 0;  // where cluster 2 begins
  std::uint64_t clusterCount = 0;
};
std::optional<FatBootFacts> ParseFatBootSector(ByteView sector);

// One file or folder a FAT directory lists, deleted or not.
struct FatDirectoryEntry {
  std::string name;       // the long name where one goes with the entry, else the 8.3 name
  std::string shortName;  // "NAME.EXT"; a deleted one's first character is unknown ('_')
  std::uint8_t attributes = 0;
  bool deleted = false;
  bool directory = false;
  std::uint32_t firstCluster = 0;
  std::uint32_t size = 0;
  std::optional<FatTimestamp> created;
  std::optional<FatTimestamp> modified;
  std::size_t offset = 0;  // of the short entry in the bytes given
};

// The entries of a run of directory bytes (a sector, a cluster or more),
// to the end mark or the end of the bytes. Volume labels and "." and ".."
// are left out. Long-name entries are joined to the short entry after them
// when their checksum is the short name's; a deleted entry's long name
// (whose first byte, and so the checksum's input, was overwritten) is taken
// when some first character makes the checksum match, which also gives the
// name's first character back.
std::vector<FatDirectoryEntry> ParseFatDirectory(ByteView bytes);

}  // namespace vellumark
