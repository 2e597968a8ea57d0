#pragma once

#include <cstddef>
#include <cstdint>

// Where the fields of NTFS's structures lie: the boot sector, the header of
// a master file table record, the attribute headers within it and the
// attributes read here ($FILE_NAME and $DATA). Offsets in bytes from the
// start of each structure.
namespace vellumark::ntfs_layout {

// Boot sector.
inline constexpr std::size_t kBootOemName = 3;  // "NTFS    "
inline constexpr std::size_t kBootBytesPerSector = 11;
inline constexpr std::size_t kBootSectorsPerCluster = 13;
inline constexpr std::size_t kBootTotalSectors = 40;
inline constexpr std::size_t kBootMftCluster = 48;
inline constexpr std::size_t kBootClustersPerRecord = 64;  // signed: negative n means 2^-n bytes

// File record header.
inline constexpr char kRecordSignature[] = "FILE";
inline constexpr std::size_t kUpdateSequenceOffset = 4;
inline constexpr std::size_t kUpdateSequenceCount = 6;
inline constexpr std::size_t kSequenceNumber = 16;
inline constexpr std::size_t kFirstAttribute = 20;
inline constexpr std::size_t kFlags = 22;
inline constexpr std::size_t kUsedSize = 24;
inline constexpr std::size_t kAllocatedSize = 28;
inline constexpr std::size_t kBaseRecord = 32;
inline constexpr std::size_t kRecordNumber = 44;  // NTFS 3.1 and later
inline constexpr std::uint16_t kFlagInUse = 0x0001;
inline constexpr std::uint16_t kFlagDirectory = 0x0002;
inline constexpr std::size_t kFixupStride = 512;  // the update sequence guards every 512 bytes

// Attribute header.
inline constexpr std::size_t kAttributeType = 0;
inline constexpr std::size_t kAttributeLength = 4;
inline constexpr std::size_t kAttributeNonResident = 8;
inline constexpr std::size_t kAttributeNameLength = 9;
inline constexpr std::size_t kResidentValueLength = 16;
inline constexpr std::size_t kResidentValueOffset = 20;
inline constexpr std::size_t kNonResidentFirstVcn = 16;
inline constexpr std::size_t kNonResidentRunsOffset = 32;
inline constexpr std::size_t kNonResidentAllocated = 40;
inline constexpr std::size_t kNonResidentDataSize = 48;
inline constexpr std::size_t kNonResidentHeaderMinimum = 64;
inline constexpr std::uint32_t kTypeFileName = 0x30;
inline constexpr std::uint32_t kTypeData = 0x80;
inline constexpr std::uint32_t kTypeEnd = 0xFFFFFFFF;

// $FILE_NAME value.
inline constexpr std::size_t kNameParent = 0;
inline constexpr std::size_t kNameCreated = 8;
inline constexpr std::size_t kNameModified = 16;
inline constexpr std::size_t kNameDataSize = 48;
inline constexpr std::size_t kNameLength = 64;
inline constexpr std::size_t kNameSpace = 65;
inline constexpr std::size_t kNameText = 66;
inline constexpr std::uint8_t kNameSpaceDos = 2;

}  // namespace vellumark::ntfs_layout
