#pragma once

#include <cstddef>
#include <cstdint>

// Where the fields of ext4's structures read here lie: the superblock (1024
// bytes into the volume) and the linear directory entry.
namespace vellumark::ext4_layout {

inline constexpr std::size_t kSuperblockOffset = 1024;
inline constexpr std::size_t kBlocksCountLow = 4;
inline constexpr std::size_t kFirstDataBlock = 20;
inline constexpr std::size_t kLogBlockSize = 24;
inline constexpr std::size_t kBlocksPerGroup = 32;
inline constexpr std::size_t kInodesPerGroup = 40;
inline constexpr std::size_t kMagic = 56;
inline constexpr std::uint16_t kMagicValue = 0xEF53;
inline constexpr std::size_t kInodeSize = 88;
inline constexpr std::size_t kFeatureIncompat = 96;
inline constexpr std::size_t kBlocksCountHigh = 336;
inline constexpr std::uint32_t kIncompat64Bit = 0x80;
inline constexpr std::size_t kDescriptorSize = 254;

// Group descriptor: where the group's inode table begins (low and high
// halves of the block number; the high one only in 64-byte descriptors).
inline constexpr std::size_t kGroupInodeTableLow = 8;
inline constexpr std::size_t kGroupInodeTableHigh = 40;

// Inode.
inline constexpr std::size_t kInodeMode = 0;
inline constexpr std::size_t kInodeSizeLow = 4;
inline constexpr std::size_t kInodeModified = 16;  // seconds since 1970 (UTC)
inline constexpr std::size_t kInodeDeleted = 20;   // dtime: when it was deleted, 0 while in use
inline constexpr std::size_t kInodeLinks = 26;
inline constexpr std::size_t kInodeFlags = 32;
inline constexpr std::size_t kInodeBlock = 40;  // 60 bytes: the extent tree's root
inline constexpr std::size_t kInodeBlockBytes = 60;
inline constexpr std::size_t kInodeSizeHigh = 108;
inline constexpr std::uint32_t kInodeUsesExtents = 0x80000;
inline constexpr std::uint16_t kModeTypeMask = 0xF000;
inline constexpr std::uint16_t kModeRegular = 0x8000;
inline constexpr std::uint16_t kModeDirectory = 0x4000;

// Extent tree node: a 12-byte header, then 12-byte entries.
inline constexpr std::uint16_t kExtentMagic = 0xF30A;
inline constexpr std::size_t kExtentEntries = 2;
inline constexpr std::size_t kExtentDepth = 6;
inline constexpr std::size_t kExtentHeader = 12;
inline constexpr std::size_t kExtentEntry = 12;
// A leaf: logical block, length, physical block (high 16 bits, low 32).
inline constexpr std::size_t kLeafLogical = 0;
inline constexpr std::size_t kLeafLength = 4;
inline constexpr std::size_t kLeafStartHigh = 6;
inline constexpr std::size_t kLeafStartLow = 8;
inline constexpr std::uint16_t kUnwrittenLength = 32768;  // longer lengths mark unwritten extents
// An index: logical block, child block (low 32 bits, high 16).
inline constexpr std::size_t kIndexChildLow = 4;
inline constexpr std::size_t kIndexChildHigh = 8;
inline constexpr std::uint16_t kMostExtentDepth = 5;

// Directory entry (ext4_dir_entry_2).
inline constexpr std::size_t kEntryInode = 0;
inline constexpr std::size_t kEntryRecordLength = 4;
inline constexpr std::size_t kEntryNameLength = 6;
inline constexpr std::size_t kEntryFileType = 7;
inline constexpr std::size_t kEntryName = 8;
inline constexpr std::size_t kEntryHeader = 8;
inline constexpr std::uint8_t kFileTypeMax = 7;
// The checksum tail some directory blocks end with: inode 0, 12 bytes,
// no name, type 0xDE.
inline constexpr std::uint8_t kTailFileType = 0xDE;

}  // namespace vellumark::ext4_layout
