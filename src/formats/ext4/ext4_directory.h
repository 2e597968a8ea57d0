#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_view.h"

namespace vellumark {

// What an ext2/3/4 superblock says about the volume's blocks.
struct Ext4SuperblockFacts {
  std::uint32_t blockSize = 0;
  std::uint64_t blockCount = 0;
  std::uint32_t blocksPerGroup = 0;
  std::uint32_t inodesPerGroup = 0;
  std::uint16_t inodeSize = 0;
  std::uint32_t firstDataBlock = 0;  // the superblock's block: 1 with 1 KiB blocks, else 0
  std::uint32_t descriptorSize = 32;  // of a group descriptor: 64 (or more) with 64-bit block numbers
};
// From the volume's first bytes (the superblock lies 1024 bytes in).
std::optional<Ext4SuperblockFacts> ParseExt4Superblock(ByteView volumeStart);

// A name a directory block lists: a live entry, or a deleted one left in
// the space a live entry's record length took over.
struct Ext4DirectoryEntry {
  std::uint32_t inode = 0;
  std::string name;  // the bytes as stored (ext4 names are bytes, usually UTF-8)
  std::uint8_t fileType = 0;  // 1 file, 2 directory ...
  bool deleted = false;
  std::size_t offset = 0;
};

// The entries of one directory block. The live entries are walked by
// their record lengths; in the slack after each live entry's name (its
// record length less the bytes its name needs) entries that were removed
// are looked for at every 4-byte step. "." and ".." and the checksum tail
// are left out. A block whose live chain does not land exactly on its end
// still gives the entries read up to the break.
std::vector<Ext4DirectoryEntry> ParseExt4DirectoryBlock(ByteView block);

}  // namespace vellumark
