#pragma once

#include <cstddef>
#include <cstdint>

// Where the fields of FAT's and exFAT's structures lie: the boot sectors,
// the 32-byte directory entries of FAT (short and long-name ones) and the
// 32-byte entries of an exFAT directory entry set.
namespace vellumark::fat_layout {

// FAT boot sector (BIOS parameter block).
inline constexpr std::size_t kBytesPerSector = 11;
inline constexpr std::size_t kSectorsPerCluster = 13;
inline constexpr std::size_t kReservedSectors = 14;
inline constexpr std::size_t kFatCount = 16;
inline constexpr std::size_t kRootEntries = 17;
inline constexpr std::size_t kTotalSectors16 = 19;
inline constexpr std::size_t kFatSize16 = 22;
inline constexpr std::size_t kTotalSectors32 = 32;
inline constexpr std::size_t kFatSize32 = 36;
inline constexpr std::size_t kRootCluster32 = 44;
inline constexpr std::size_t kLabel16 = 54;  // "FAT12   " / "FAT16   "
inline constexpr std::size_t kLabel32 = 82;  // "FAT32   "

// FAT directory entry.
inline constexpr std::size_t kEntrySize = 32;
inline constexpr std::size_t kShortName = 0;
inline constexpr std::size_t kAttributes = 11;
inline constexpr std::size_t kCreatedTime = 14;
inline constexpr std::size_t kCreatedDate = 16;
inline constexpr std::size_t kClusterHigh = 20;
inline constexpr std::size_t kModifiedTime = 22;
inline constexpr std::size_t kModifiedDate = 24;
inline constexpr std::size_t kClusterLow = 26;
inline constexpr std::size_t kFileSize = 28;
inline constexpr std::uint8_t kDeletedMark = 0xE5;
inline constexpr std::uint8_t kEndMark = 0x00;
inline constexpr std::uint8_t kAttributeVolume = 0x08;
inline constexpr std::uint8_t kAttributeDirectory = 0x10;
inline constexpr std::uint8_t kAttributeLongName = 0x0F;
// Long-name entry.
inline constexpr std::size_t kLongOrdinal = 0;
inline constexpr std::size_t kLongChecksum = 13;
inline constexpr std::uint8_t kLongLast = 0x40;
inline constexpr std::size_t kLongPieces[3][2] = {{1, 5}, {14, 6}, {28, 2}};  // offset, UTF-16 units
inline constexpr std::size_t kLongUnits = 13;

// exFAT boot sector.
inline constexpr std::size_t kExfatOemName = 3;  // "EXFAT   "
inline constexpr std::size_t kExfatVolumeLength = 72;
inline constexpr std::size_t kExfatFatOffset = 80;
inline constexpr std::size_t kExfatFatLength = 84;
inline constexpr std::size_t kExfatHeapOffset = 88;
inline constexpr std::size_t kExfatClusterCount = 92;
inline constexpr std::size_t kExfatRootCluster = 96;
inline constexpr std::size_t kExfatSectorShift = 108;
inline constexpr std::size_t kExfatClusterShift = 109;

// exFAT directory entries: the type byte's high bit says in use.
inline constexpr std::uint8_t kExfatInUse = 0x80;
inline constexpr std::uint8_t kExfatFile = 0x85;
inline constexpr std::uint8_t kExfatStream = 0xC0;
inline constexpr std::uint8_t kExfatName = 0xC1;
inline constexpr std::uint8_t kExfatBitmap = 0x81;  // the allocation bitmap's entry
inline constexpr std::size_t kExfatBitmapFlags = 1;   // bit 0: of the second FAT
inline constexpr std::size_t kExfatBitmapFirstCluster = 20;
inline constexpr std::size_t kExfatBitmapLength = 24;
// File entry.
inline constexpr std::size_t kExfatSecondaryCount = 1;
inline constexpr std::size_t kExfatSetChecksum = 2;
inline constexpr std::size_t kExfatAttributes = 4;
inline constexpr std::size_t kExfatCreated = 8;
inline constexpr std::size_t kExfatModified = 12;
// Stream extension entry.
inline constexpr std::size_t kExfatStreamFlags = 1;
inline constexpr std::size_t kExfatNameLength = 3;
inline constexpr std::size_t kExfatValidLength = 8;
inline constexpr std::size_t kExfatFirstCluster = 20;
inline constexpr std::size_t kExfatDataLength = 24;
inline constexpr std::uint8_t kExfatNoFatChain = 0x02;
// File name entry: 15 UTF-16 units from offset 2.
inline constexpr std::size_t kExfatNameText = 2;
inline constexpr std::size_t kExfatNameUnits = 15;

}  // namespace vellumark::fat_layout
