#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_view.h"

namespace vellumark {

// One entry of a master or extended boot record, its numbers as stored
// (relative to whatever the table's kind makes them relative to).
struct MbrEntry {
  std::uint8_t type = 0;
  std::uint32_t firstLba = 0;
  std::uint32_t sectorCount = 0;
  bool bootable = false;

  bool IsExtended() const;
  friend bool operator==(const MbrEntry&, const MbrEntry&) = default;
};

// The four entries of a boot record with the 0x55 0xAA signature, empty
// ones (type 0 or no sectors) left out. Nothing when the signature is
// missing, an entry's status byte is neither 0 nor 0x80, or no entry is
// used (a boot sector of a file system carries the signature too, but code
// where the table would be).
std::optional<std::vector<MbrEntry>> ParseMbr(ByteView sector);

// Whether the record's only partition is the 0xEE one that guards a GPT.
bool IsProtectiveMbr(const std::vector<MbrEntry>& entries);

// An extended boot record: its logical partition (firstLba relative to this
// record's own sector) and where the next record lies (relative to the start
// of the extended partition), 0 when it is the last.
struct ExtendedRecord {
  std::optional<MbrEntry> logical;
  std::uint32_t nextRelative = 0;
};
std::optional<ExtendedRecord> ParseExtendedRecord(ByteView sector);

// The GPT header: where its entries lie and how they are sized. Its CRC is
// checked; a header of a disk with a different block size does not hold
// (its own LBA field would not be 1 there).
struct GptHeader {
  std::uint64_t myLba = 0;
  std::uint64_t firstUsable = 0;
  std::uint64_t lastUsable = 0;
  std::uint64_t entriesLba = 0;
  std::uint32_t entryCount = 0;
  std::uint32_t entrySize = 0;
  std::uint32_t entriesCrc = 0;
};
std::optional<GptHeader> ParseGptHeader(ByteView block);

struct GptEntry {
  std::array<std::uint8_t, 16> typeGuid{};
  std::uint64_t firstLba = 0;
  std::uint64_t lastLba = 0;  // inclusive
  std::string name;           // UTF-8
};

// The used entries of a GPT's entry array (entryCount entries of entrySize
// bytes each, as many as the bytes hold); entries whose type is all zeros
// or whose last block lies before the first are left out. Nothing when the
// array's CRC does not match the header's.
std::optional<std::vector<GptEntry>> ParseGptEntries(ByteView entries, const GptHeader& header);

}  // namespace vellumark
