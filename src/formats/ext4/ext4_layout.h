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
