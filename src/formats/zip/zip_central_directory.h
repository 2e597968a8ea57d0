#pragma once

// The central directory of a ZIP archive read on its own, without its
// members: what a reassembly needs to know of each member before it has
// found any of them but the first. The end record gives the directory's
// place and length in the archive, and each entry a member's local header
// offset, sizes, CRC-32 and name.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/byte_view.h"

namespace vellumark {

struct ZipEndRecord {
  std::uint32_t entries = 0;
  std::uint32_t directorySize = 0;
  std::uint32_t directoryOffset = 0;
  std::uint16_t commentLength = 0;

  // The archive's length: the directory, the end record and its comment.
  std::int64_t ArchiveLength() const {
    return std::int64_t{directoryOffset} + directorySize + 22 + commentLength;
  }
};

// The end record at the start of bytes, when it is one of a single-disk
// archive small enough for ZIP32 fields (ZIP64 archives are not read here).
std::optional<ZipEndRecord> ReadZipEndRecord(ByteView bytes);

struct ZipDirectoryEntry {
  std::string name;
  std::uint16_t flags = 0;
  std::uint16_t method = 0;
  std::uint32_t modified = 0;  // DOS time and date, as the local header repeats them
  std::uint32_t crc = 0;
  std::uint32_t compressedSize = 0;
  std::uint32_t size = 0;
  std::uint32_t headerOffset = 0;
};

// How far a central directory checks: Broken when an entry is not one,
// Going while the bytes seen are a sound start of one, Done when the bytes
// are exactly the entries the end record counts, followed by the end record.
enum class ZipDirectoryState : std::uint8_t { Broken, Going, Done };

// Reads the entries of the central directory that starts bytes. With
// expected, the end record the directory must end in (the bytes then run
// to the end of its comment). The state says whether more bytes could make
// it whole; the entries are those read whole.
struct ZipDirectoryRead {
  ZipDirectoryState state = ZipDirectoryState::Broken;
  std::vector<ZipDirectoryEntry> entries;
};
ZipDirectoryRead ReadZipDirectory(ByteView bytes, const ZipEndRecord& expected);

}  // namespace vellumark
