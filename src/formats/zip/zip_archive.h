#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/byte_view.h"

namespace vellumark {

// Fields of ZIP records that the carver's walk and the archive check read
// alike.
namespace zip_field {
inline constexpr std::uint32_t kInZip64 = 0xFFFFFFFF;  // the real size is in the ZIP64 extra field
inline constexpr std::uint16_t kZip64Extra = 0x0001;
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDescriptor = 0x0008;
inline constexpr std::uint16_t kStored = 0;
inline constexpr std::uint16_t kDeflated = 8;
}  // namespace zip_field

// One member of a ZIP archive as its local header and data say.
struct ZipMember {
  std::string name;
  std::int64_t headerOffset = 0;  // of the local header, from the archive's start
  std::int64_t dataOffset = 0;
  std::int64_t compressedSize = 0;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  std::uint16_t method = 0;
};

// What checking one record of an archive found.
enum class ZipStep : std::uint8_t {
  Done,        // the record is whole and checks
  NeedBytes,   // more of the archive is needed (up to the offset given)
  Broken,      // the record is not what it must be
};

struct ZipRecordCheck {
  ZipStep step = ZipStep::Broken;
  std::int64_t next = 0;    // Done: where the next record starts; NeedBytes: bytes needed (0: unknown, more)
  ZipMember member;         // for a member
  std::string fault;        // Broken: what is wrong, for the report
  std::int64_t failAt = 0;  // Broken: the offset at which it showed (foreign data lies before it)
};

// Where the inflating of a member whose size comes after its data stopped
// when the bytes at hand ran out, so that the check asked again with more
// bytes (the same ones first) goes on from there instead of inflating the
// member from its start once more.
class ZipInflateResume {
 public:
  ZipInflateResume();
  ~ZipInflateResume();
  ZipInflateResume(const ZipInflateResume&) = delete;
  ZipInflateResume& operator=(const ZipInflateResume&) = delete;
  // The bytes at hand changed before where it stopped: start again.
  void Forget();
  // Bytes inflated over all checks, for those who count the work.
  std::uint64_t Inflated() const { return inflated_; }

  struct State;

 private:
  friend ZipRecordCheck CheckZipMember(std::span<const std::uint8_t>, std::int64_t, ZipInflateResume*);
  std::unique_ptr<State> state_;
  std::uint64_t inflated_ = 0;
};

// Checks the member whose local header starts at offset: its data must
// inflate (or, stored, be) exactly its size with its CRC-32, and a data
// descriptor after it must agree. bytes is as much of the archive as is at
// hand, from its first byte. With resume, a member whose size comes after
// its data is inflated once over the checks that bring more bytes.
ZipRecordCheck CheckZipMember(std::span<const std::uint8_t> bytes, std::int64_t offset,
                              ZipInflateResume* resume = nullptr);

// Checks the central directory from offset to the end record (and its
// comment): one entry for every member, in order, each pointing at its
// member's local header with the same CRC and sizes; ZIP64 end records
// where present. next is the archive's length.
ZipRecordCheck CheckZipDirectory(std::span<const std::uint8_t> bytes, std::int64_t offset,
                                 const std::vector<ZipMember>& members);

// A whole archive checked from its first byte: every member, then the
// directory. Empty fault when all of it checks.
struct ZipArchiveCheck {
  std::vector<ZipMember> members;
  std::int64_t length = 0;
  std::string fault;
  // The bytes ended before the archive did: nothing in them was wrong.
  bool cutShort = false;
};
ZipArchiveCheck CheckZipArchive(std::span<const std::uint8_t> bytes);

// The member's data, inflated; none when it does not inflate to its size or
// is larger than limit.
std::optional<std::vector<std::uint8_t>> ZipMemberData(std::span<const std::uint8_t> bytes, const ZipMember& member,
                                                       std::uint64_t limit);

// Fills, from the ZIP64 field among the extra fields given, those of the
// values whose 32-bit field said 0xFFFFFFFF (in the order the format gives:
// uncompressed size, compressed size, local header offset). False when the
// field is missing or too short.
bool ReadZip64Extra(ByteView extra, std::initializer_list<std::uint64_t*> values);

}  // namespace vellumark
