// ZIP archives of any number of members (DOCX, XLSX, ODT, EPUB and JAR are
// such archives): every local header and its data, the central directory,
// the ZIP64 end records where the sizes need them, and the end record with
// its comment. A member whose sizes are known up front is stepped over
// unread; one written with a data descriptor (LibreOffice writes them) is
// inflated to find where its data ends, and its descriptor must agree with
// what was inflated.
#include <zlib.h>

#include <algorithm>
#include <array>

#include "common/byte_order.h"
#include "formats/checksum/crc32.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"
#include "formats/zip/zip_archive.h"

namespace vellumark {
namespace {

using namespace signature;
using namespace zip_field;
// Bounds the walk: no archive a document could lie around is larger, and
// no honest one has more members.
constexpr std::int64_t kLargestArchive = std::int64_t{4} << 30;
constexpr std::int64_t kMostMembers = 1'000'000;

// Offsets are into the carve image, as the attempt keeps it: every sector
// claimed unread or cut back leaves it, so the walk's cursor drops with it.
// consumed_ counts the archive's bytes the cursor has passed, whatever the
// image keeps, to bound the archive's size.
class ZipWalk {
 public:
  explicit ZipWalk(CarveAttempt& attempt) : attempt_(attempt), sector_(attempt.Run().BytesPerSector()) {}

  bool Run() {
    std::int64_t members = 0;
    for (;;) {
      if (!Reach(4)) return false;
      // Up to the central directory, whether the walk fails depends on
      // nothing before the member it is at.
      if (!attempt_.Reached(CarveMemory::Chain::kZipMembers, cursor_)) return false;
      if (At().Equals(0, kZipCentralHeader)) break;
      if (!At().Equals(0, kZipLocalHeader)) return false;
      if (++members > kMostMembers) {
        attempt_.NotPositional();
        return false;
      }
      if (!Member()) return false;
    }
    // From here on the count of members decides.
    attempt_.NotPositional();
    std::int64_t entries = 0;
    while (Reach(4) && At().Equals(0, kZipCentralHeader)) {
      if (!Reach(46)) return false;
      const auto nameLength = At().Le16(28), extraLength = At().Le16(30), commentLength = At().Le16(32);
      if (!nameLength || !extraLength || !commentLength) return false;
      if (!Advance(46 + std::int64_t{*nameLength} + *extraLength + *commentLength)) return false;
      ++entries;
    }
    // Every member has its entry: a local header without one is another
    // archive's, or this one was cut.
    if (entries != members || !Reach(4)) return false;
    if (At().Equals(0, kZip64EndRecord)) {
      if (!Reach(12)) return false;
      const auto size = At().Le64(4);
      if (!size) return false;
      if (*size > static_cast<std::uint64_t>(kLargestArchive) || !Advance(12 + static_cast<std::int64_t>(*size))) {
        return false;
      }
      if (!Reach(20) || !At().Equals(0, kZip64Locator) || !Advance(20)) return false;
    }
    if (!Reach(22) || !At().Equals(0, kZipEndRecord)) return false;
    const auto commentLength = At().Le16(20);
    if (!commentLength) return false;
    return Advance(22 + std::int64_t{*commentLength}) && Reach(0);
  }

 private:
  // The loaded bytes from the cursor on; empty when the cursor lies beyond
  // them. Valid until the next load.
  ByteView At() const { return attempt_.View().From(cursor_).value_or(ByteView()); }

  // Brings the next length bytes at the cursor into the image: the sectors
  // wholly before them are claimed unread.
  bool Reach(std::int64_t length) {
    // A record beyond the end of the source is not claimed sector by sector first.
    if (!attempt_.CanReach(cursor_ + length)) return false;
    if (cursor_ >= attempt_.Loaded() + sector_) {
      const std::int64_t passed = (cursor_ - attempt_.Loaded()) / sector_;
      if (!attempt_.PassFreeSectors(passed)) return false;
      cursor_ -= passed * sector_;
    }
    return attempt_.LoadUpTo(cursor_ + length);
  }

  bool Advance(std::int64_t bytes) {
    consumed_ += bytes;
    if (bytes < 0) return false;
    if (consumed_ > kLargestArchive) {
      attempt_.NotPositional();
      return false;
    }
    cursor_ += bytes;
    // What lies before the cursor is done with; a cursor past the image
    // is brought in by the next Reach.
    if (cursor_ <= attempt_.Loaded()) cursor_ = attempt_.CutBack(cursor_);
    return true;
  }

  bool Member() {
    if (!Reach(30)) return false;
    const ByteView local = At();
    const auto flagsField = local.Le16(6), methodField = local.Le16(8);
    const auto compressedField = local.Le32(18), uncompressedField = local.Le32(22);
    const auto nameField = local.Le16(26), extraField = local.Le16(28);
    if (!flagsField || !methodField || !compressedField || !uncompressedField || !nameField || !extraField) {
      return false;
    }
    const std::uint16_t flags = *flagsField;
    const std::uint16_t method = *methodField;
    std::uint64_t compressed = *compressedField;
    std::uint64_t uncompressed = *uncompressedField;
    const std::int64_t nameLength = *nameField;
    const std::int64_t extraLength = *extraField;
    if (!Reach(30 + nameLength + extraLength)) return false;
    bool zip64 = false;
    if (compressed == kInZip64 || uncompressed == kInZip64) {
      const auto extra = At().Bytes(30 + nameLength, extraLength);
      if (!extra || !ReadZip64Extra(*extra, {&uncompressed, &compressed})) return false;
      zip64 = true;
    }
    if (!Advance(30 + nameLength + extraLength)) return false;
    if ((flags & kFlagDescriptor) == 0 || compressed != 0) {
      if (compressed > static_cast<std::uint64_t>(kLargestArchive)) return false;
      if (!Advance(static_cast<std::int64_t>(compressed))) return false;
      return (flags & kFlagDescriptor) == 0 || SkipDescriptor(zip64);
    }
    // The sizes come after the data: only a deflate stream says where it ends.
    if (method != kDeflated) return false;
    std::uint64_t inflatedSize = 0;
    std::uint32_t crc = 0;
    std::int64_t streamLength = 0;
    if (!Inflate(streamLength, inflatedSize, crc)) return false;
    return CheckDescriptor(zip64, static_cast<std::uint64_t>(streamLength), inflatedSize, crc);
  }

  bool Inflate(std::int64_t& streamLength, std::uint64_t& inflatedSize, std::uint32_t& crc) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) return false;
    std::array<std::uint8_t, 65536> out{};
    int status = Z_OK;
    crc = 0;
    while (status == Z_OK || status == Z_BUF_ERROR) {
      // One sector more at a time: every sector loaded is claimed, and the
      // archive may end in the sector where the stream does.
      if (attempt_.Loaded() <= cursor_ && !attempt_.LoadOneMore()) break;
      const ByteView input = At();
      stream.next_in = const_cast<std::uint8_t*>(input.Data());
      stream.avail_in = static_cast<uInt>(input.Size());
      do {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        status = inflate(&stream, Z_NO_FLUSH);
        crc = Crc32(crc, out.data(), out.size() - stream.avail_out);
      } while (status == Z_OK && stream.avail_out == 0);
      if (!Advance(static_cast<std::int64_t>(stream.next_in - input.Data()))) break;
    }
    streamLength = static_cast<std::int64_t>(stream.total_in);
    inflatedSize = stream.total_out;
    inflateEnd(&stream);
    return status == Z_STREAM_END;
  }

  // The descriptor after data whose sizes were known: its signature is
  // optional, its size follows from the header.
  bool SkipDescriptor(bool zip64) {
    if (!Reach(4)) return false;
    const std::int64_t marker = At().Equals(0, kZipDescriptor) ? 4 : 0;
    return Advance(marker + 4 + (zip64 ? 16 : 8));
  }

  bool CheckDescriptor(bool zip64, std::uint64_t compressed, std::uint64_t uncompressed, std::uint32_t crc) {
    if (!Reach(4)) return false;
    const std::int64_t marker = At().Equals(0, kZipDescriptor) ? 4 : 0;
    const std::int64_t length = marker + 4 + (zip64 ? 16 : 8);
    if (!Reach(length)) return false;
    const auto fields = At().From(marker);
    if (!fields) return false;
    // A comparison with a field that is not there is false.
    const bool agrees =
        fields->Le32(0) == crc &&
        (zip64 ? fields->Le64(4) == compressed && fields->Le64(12) == uncompressed
               : fields->Le32(4) == static_cast<std::uint32_t>(compressed) &&
                     fields->Le32(8) == static_cast<std::uint32_t>(uncompressed));
    return agrees && Advance(length);
  }

  CarveAttempt& attempt_;
  const std::int64_t sector_;
  std::int64_t cursor_ = 0;
  std::int64_t consumed_ = 0;
};

}  // namespace

void ZipCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(0, kZipLocalHeader)) return;
  if (ZipWalk(attempt).Run()) attempt.Succeed();
}

}  // namespace vellumark
