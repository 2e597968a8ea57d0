#pragma once

// The on-disk layout of a compound file, the container of Word, Excel and
// PowerPoint 97-2003 documents: its header, its directory entries and the
// numbers that mark special sectors in its allocation tables. Every reader
// of compound files takes its offsets from here.
//
// Office writes version 3 files of 512-byte sectors, the only ones the
// rescue reads: file sector k starts at byte (k + 1) * 512, after the header.

#include <cstddef>
#include <cstdint>

namespace vellumark::compound {

inline constexpr std::size_t kSectorSize = 512;
inline constexpr std::size_t kMiniSectorSize = 64;
inline constexpr std::size_t kWordsPerSector = kSectorSize / 4;

// Allocation-table values above kLastSectorNumber are marks, not sectors.
inline constexpr std::uint32_t kLastSectorNumber = 0xFFFFFFFA;
inline constexpr std::uint32_t kDifatMark = 0xFFFFFFFC;  // the FAT's entry for a DIFAT sector
inline constexpr std::uint32_t kFatMark = 0xFFFFFFFD;    // the FAT's entry for one of its own sectors
inline constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr std::uint32_t kFree = 0xFFFFFFFF;
inline constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;  // a directory link to no entry

// The header, the file's first 512 bytes.
namespace header {
inline constexpr std::size_t kSignature = 0;          // D0 CF 11 E0 A1 B1 1A E1
inline constexpr std::size_t kMajorVersion = 26;      // 16 bits: 3
inline constexpr std::size_t kByteOrder = 28;         // 16 bits: FFFE, little-endian
inline constexpr std::size_t kSectorShift = 30;       // 16 bits: 9, 512-byte sectors
inline constexpr std::size_t kMiniSectorShift = 32;   // 16 bits: 6, 64-byte mini sectors
inline constexpr std::size_t kFatSectors = 44;        // 32 bits: how many sectors the FAT has
inline constexpr std::size_t kFirstDirectorySector = 48;
inline constexpr std::size_t kMiniStreamCutoff = 56;  // streams smaller than this live in the mini stream
inline constexpr std::size_t kFirstMiniFatSector = 60;
inline constexpr std::size_t kMiniFatSectors = 64;
inline constexpr std::size_t kFirstDifatSector = 68;
inline constexpr std::size_t kDifatSectors = 72;
inline constexpr std::size_t kFatSectorList = 76;     // the first 109 FAT sectors, 32 bits each
inline constexpr std::size_t kListedFatSectors = 109;
// Byte order and sector shift read as one 32-bit word: FFFE, then 9.
inline constexpr std::uint32_t kLittleEndian512 = 0x0009FFFE;
}  // namespace header

// A DIFAT sector lists 127 more FAT sectors; its last word links to the next.
namespace difat {
inline constexpr std::size_t kFatSectorsPerSector = 127;
inline constexpr std::size_t kNextSector = 4 * kFatSectorsPerSector;
}  // namespace difat

// A directory entry, 128 bytes, four to a sector.
namespace entry {
inline constexpr std::size_t kSize = 128;
inline constexpr std::size_t kName = 0;          // UTF-16, up to 32 units with the terminating zero
inline constexpr std::size_t kNameBytes = 64;    // 16 bits: the name's length in bytes, with the zero
inline constexpr std::size_t kLongestName = 64;
inline constexpr std::size_t kType = 66;
inline constexpr std::size_t kLeftSibling = 68;
inline constexpr std::size_t kRightSibling = 72;
inline constexpr std::size_t kChild = 76;
inline constexpr std::size_t kStartSector = 116;
inline constexpr std::size_t kStreamSize = 120;  // 32 bits; version 3 files keep no more
inline constexpr std::uint8_t kUnused = 0, kStorage = 1, kStream = 2, kRoot = 5;
}  // namespace entry

// The byte at which file sector k starts.
inline constexpr std::uint64_t SectorOffset(std::uint32_t sector) { return (std::uint64_t{sector} + 1) * kSectorSize; }

}  // namespace vellumark::compound
