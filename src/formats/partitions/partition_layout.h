#pragma once

#include <cstddef>
#include <cstdint>

// Where the fields of the two partition tables lie on the disk: the PC's
// master boot record (and the extended boot records chained from it) and the
// GUID partition table. Offsets are in bytes from the start of the structure.
namespace vellumark::partition_layout {

// Master or extended boot record: four 16-byte entries, then 0x55 0xAA.
inline constexpr std::size_t kMbrEntries = 446;
inline constexpr std::size_t kMbrEntrySize = 16;
inline constexpr std::size_t kMbrEntryCount = 4;
inline constexpr std::size_t kMbrSignature = 510;
inline constexpr std::size_t kMbrSize = 512;
// Within an entry.
inline constexpr std::size_t kEntryStatus = 0;
inline constexpr std::size_t kEntryType = 4;
inline constexpr std::size_t kEntryFirstLba = 8;
inline constexpr std::size_t kEntrySectorCount = 12;

inline constexpr std::uint8_t kTypeEmpty = 0x00;
inline constexpr std::uint8_t kTypeExtendedChs = 0x05;
inline constexpr std::uint8_t kTypeExtendedLba = 0x0F;
inline constexpr std::uint8_t kTypeExtendedLinux = 0x85;
inline constexpr std::uint8_t kTypeGptProtective = 0xEE;

// GPT header, at the second logical block.
inline constexpr char kGptSignature[] = "EFI PART";
inline constexpr std::size_t kGptHeaderSizeField = 12;
inline constexpr std::size_t kGptHeaderCrc = 16;
inline constexpr std::size_t kGptMyLba = 24;
inline constexpr std::size_t kGptFirstUsable = 40;
inline constexpr std::size_t kGptLastUsable = 48;
inline constexpr std::size_t kGptEntriesLba = 72;
inline constexpr std::size_t kGptEntryCount = 80;
inline constexpr std::size_t kGptEntrySize = 84;
inline constexpr std::size_t kGptEntriesCrc = 88;
inline constexpr std::size_t kGptHeaderMinimum = 92;
// Within a GPT entry.
inline constexpr std::size_t kGptTypeGuid = 0;
inline constexpr std::size_t kGptFirstLba = 32;
inline constexpr std::size_t kGptLastLba = 40;
inline constexpr std::size_t kGptName = 56;
inline constexpr std::size_t kGptNameBytes = 72;
inline constexpr std::size_t kGptEntryMinimum = 128;

}  // namespace vellumark::partition_layout
