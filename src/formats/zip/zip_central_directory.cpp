#include "formats/zip/zip_central_directory.h"

#include "formats/file_signatures.h"

namespace vellumark {
namespace {

constexpr std::size_t kEntryFixed = 46;
constexpr std::size_t kEndFixed = 22;

// A member name as office documents write them: printable, no NUL.
bool PlausibleName(ByteView name) {
  if (name.Size() == 0) return false;
  for (std::size_t i = 0; i < name.Size(); ++i) {
    if (name.Data()[i] < 0x20) return false;
  }
  return true;
}

}  // namespace

std::optional<ZipEndRecord> ReadZipEndRecord(ByteView bytes) {
  if (!bytes.Equals(0, signature::kZipEndRecord)) return std::nullopt;
  const auto disk = bytes.Le16(4), startDisk = bytes.Le16(6), here = bytes.Le16(8), total = bytes.Le16(10);
  const auto size = bytes.Le32(12), offset = bytes.Le32(16);
  const auto comment = bytes.Le16(20);
  if (!disk || !startDisk || !here || !total || !size || !offset || !comment) return std::nullopt;
  if (*disk != 0 || *startDisk != 0 || *here != *total || *total == 0 || *total == 0xFFFF) return std::nullopt;
  if (*size == 0xFFFFFFFFu || *offset == 0xFFFFFFFFu) return std::nullopt;
  if (std::uint64_t{*size} < std::uint64_t{*total} * kEntryFixed) return std::nullopt;
  return ZipEndRecord{*total, *size, *offset, *comment};
}

ZipDirectoryRead ReadZipDirectory(ByteView bytes, const ZipEndRecord& expected) {
  ZipDirectoryRead read;
  std::size_t at = 0;
  while (read.entries.size() < expected.entries) {
    if (at + 4 > bytes.Size()) {
      read.state = at < expected.directorySize ? ZipDirectoryState::Going : ZipDirectoryState::Broken;
      return read;
    }
    if (!bytes.Equals(at, signature::kZipCentralHeader)) return read;
    if (at + kEntryFixed > bytes.Size()) {
      read.state = ZipDirectoryState::Going;
      return read;
    }
    ZipDirectoryEntry entry;
    entry.flags = *bytes.Le16(at + 8);
    entry.method = *bytes.Le16(at + 10);
    entry.modified = *bytes.Le32(at + 12);
    entry.crc = *bytes.Le32(at + 16);
    entry.compressedSize = *bytes.Le32(at + 20);
    entry.size = *bytes.Le32(at + 24);
    const std::size_t nameLength = *bytes.Le16(at + 28), extra = *bytes.Le16(at + 30), comment = *bytes.Le16(at + 32);
    entry.headerOffset = *bytes.Le32(at + 42);
    const std::size_t next = at + kEntryFixed + nameLength + extra + comment;
    if (next > expected.directorySize || entry.headerOffset >= expected.directoryOffset) return read;
    if (entry.compressedSize == 0xFFFFFFFFu || entry.size == 0xFFFFFFFFu) return read;  // ZIP64: not read here
    const auto name = bytes.Bytes(at + kEntryFixed, nameLength);
    if (!name) {
      read.state = ZipDirectoryState::Going;
      return read;
    }
    if (!PlausibleName(*name)) return read;
    entry.name.assign(reinterpret_cast<const char*>(name->Data()), name->Size());
    if (next > bytes.Size()) {
      read.state = ZipDirectoryState::Going;
      return read;
    }
    read.entries.push_back(std::move(entry));
    at = next;
  }
  if (at != expected.directorySize) return read;
  const std::size_t end = at + kEndFixed + expected.commentLength;
  if (bytes.Size() < end) {
    // The end record, as far as it is at hand, must be the one expected.
    const auto head = bytes.From(at);
    if (head && head->Size() >= 4 && !head->Equals(0, signature::kZipEndRecord)) return read;
    read.state = ZipDirectoryState::Going;
    return read;
  }
  const auto record = ReadZipEndRecord(*bytes.Bytes(at, kEndFixed));
  if (bytes.Size() != end || !record || record->entries != expected.entries ||
      record->directorySize != expected.directorySize || record->directoryOffset != expected.directoryOffset)
    return read;
  read.state = ZipDirectoryState::Done;
  return read;
}

}  // namespace vellumark
