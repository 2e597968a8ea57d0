#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_view.h"
#include "formats/fat/fat_directory.h"

namespace vellumark {

// Where an exFAT volume's areas lie, in sectors from its boot sector.
struct ExfatBootFacts {
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint64_t volumeSectors = 0;
  std::uint64_t fatSector = 0;
  std::uint64_t fatSectors = 0;
  std::uint64_t heapSector = 0;  // where cluster 2 begins
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
};
std::optional<ExfatBootFacts> ParseExfatBootSector(ByteView sector);

// A file or folder an exFAT directory lists: the entry set of a file entry,
// its stream extension and its name entries, deleted or not (a deleted
// set's entries have their in-use bits cleared, nothing else).
struct ExfatFileEntry {
  std::string name;  // UTF-8
  bool deleted = false;
  bool directory = false;
  bool contiguous = false;  // NoFatChain: the clusters follow one another, no FAT chain
  std::uint32_t firstCluster = 0;
  std::uint64_t size = 0;       // the data length
  std::uint64_t validSize = 0;  // bytes written; the rest reads as zeros
  std::optional<FatTimestamp> created;
  std::optional<FatTimestamp> modified;
  std::size_t offset = 0;  // of the file entry in the bytes given
};

// The entry sets of a run of directory bytes. A set is taken when its
// secondary count covers a stream entry and the name entries the stream's
// name length needs; a live set must also match its checksum (a deleted
// one's changed with the in-use bits, so it is not asked to).
std::vector<ExfatFileEntry> ParseExfatDirectory(ByteView bytes);

// Where the allocation bitmap of the first FAT lies, as the root
// directory's bitmap entry says: a bit per cluster from cluster 2, set
// while the cluster is in use.
struct ExfatBitmapPlace {
  std::uint32_t firstCluster = 0;
  std::uint64_t length = 0;  // bytes
};
std::optional<ExfatBitmapPlace> FindExfatBitmap(ByteView rootDirectory);

}  // namespace vellumark
