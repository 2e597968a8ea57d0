// tar archives in the ustar and GNU formats: each member is a header block
// whose checksum holds, then its data rounded up to whole blocks, claimed
// unread but for its tail; the archive ends with two zero blocks. GNU tar
// pads the archive with zeros to a whole record (20 blocks unless told
// otherwise); the zero blocks up to the next record boundary are part of the
// file when they are there.
#include <algorithm>

#include "rescue/carve_services.h"
#include "rescue/carvers/carvers.h"
#include "formats/tar_header.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestTar = 17'179'869'184;
constexpr std::int64_t kRecord = 20 * kTarBlock;
constexpr std::uint8_t kSparse = 'S';
constexpr int kSparseExtended = 482;         // in a GNU sparse header
constexpr int kSparseBlockExtended = 504;    // in each sparse block that follows it

bool IsZero(ByteView block) {
  return std::all_of(block.begin(), block.end(), [](std::uint8_t b) { return b == 0; });
}

// Types whose size field describes no data in the archive: links, devices,
// directories and FIFOs.
bool HasNoData(std::uint8_t type) { return type >= '1' && type <= '6'; }

class Walk {
 public:
  explicit Walk(CarveAttempt& attempt) : attempt_(attempt) {}

  // Loads the block at the cursor. False when the source ends (Failed false)
  // or a read fails (Failed true).
  bool Load() {
    if (attempt_.LoadUpTo(at_ + kTarBlock)) return true;
    failed_ = !attempt_.AtSourceEnd();
    return false;
  }
  // The block at the cursor; none unless Load has brought it in.
  std::optional<ByteView> Block() const { return attempt_.View().Bytes(at_, kTarBlock); }
  bool Pass(std::int64_t n) {
    if (n > kLargestTar - fileOffset_) return false;
    const std::int64_t next = attempt_.PassStructure(at_, n);
    if (next < 0) return false;
    fileOffset_ += n;
    at_ = attempt_.CutBack(next);
    return true;
  }
  std::int64_t FileOffset() const { return fileOffset_; }
  bool Failed() const { return failed_; }
  void End() { attempt_.GiveBackFrom(at_); }

 private:
  CarveAttempt& attempt_;
  std::int64_t at_ = 0;
  std::int64_t fileOffset_ = 0;
  bool failed_ = false;
};

// The blocks of GNU's old sparse format that follow a sparse header: each
// says in its last byte whether another follows. They carry no checksum.
bool PassSparseBlocks(Walk& walk, bool extended) {
  while (extended) {
    if (!walk.Load()) return false;
    const auto block = walk.Block();
    const auto another = block ? block->Byte(kSparseBlockExtended) : std::nullopt;
    if (!another) return false;
    extended = *another != 0;
    if (!walk.Pass(kTarBlock)) return false;
  }
  return true;
}

bool WalkMembers(CarveAttempt& attempt) {
  Walk walk(attempt);
  for (;;) {
    if (!walk.Load()) return false;
    const auto header = walk.Block();
    if (!header) return false;
    if (IsZero(*header)) break;
    // The header parsers read one whole block, which the view holds.
    if (!IsTarHeader(header->Data())) return false;
    const std::int64_t size = TarSize(header->Data());
    if (size < 0 || size > kLargestTar) return false;
    const auto typeField = header->Byte(156), sparseExtended = header->Byte(kSparseExtended);
    if (!typeField || !sparseExtended) return false;
    const std::uint8_t type = *typeField;
    const bool extended = type == kSparse && *sparseExtended != 0;
    if (!walk.Pass(kTarBlock) || !PassSparseBlocks(walk, extended)) return false;
    const std::int64_t data = HasNoData(type) ? 0 : (size + kTarBlock - 1) / kTarBlock * kTarBlock;
    if (data > 0 && !walk.Pass(data)) return false;
  }
  // The first zero block is loaded; the second must follow.
  if (!walk.Pass(kTarBlock) || !walk.Load() || !walk.Block() || !IsZero(*walk.Block()) || !walk.Pass(kTarBlock)) {
    return false;
  }
  // The record's padding, when the source has it; a block that is not zero
  // belongs to something else and is given back.
  while (walk.FileOffset() % kRecord != 0 && walk.Load() && walk.Block() && IsZero(*walk.Block()) &&
         walk.Pass(kTarBlock)) {
  }
  if (walk.Failed()) return false;
  walk.End();
  return true;
}

}  // namespace

void TarCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkMembers(attempt)) attempt.Succeed();
}

}  // namespace vellumark
