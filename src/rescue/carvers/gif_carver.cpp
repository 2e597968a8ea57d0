// GIF 87a and 89a: header, logical screen descriptor and global colour
// table, then the blocks (images with their local colour table and LZW data,
// extensions) up to the trailer 0x3B. Every block is a chain of sub-blocks of
// at most 255 bytes, so the whole file is read; the image is cut back as the
// walk goes, so that it stays near 60 sectors however long the animation.

#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestGif = 104'857'600;
constexpr std::int64_t kHeader = 6;
constexpr std::int64_t kScreenDescriptor = 7;
constexpr std::int64_t kImageDescriptor = 10;  // the 0x2C separator included
constexpr std::uint8_t kImageSeparator = 0x2C;
constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kHasColourTable = 0x80;
// LZW codes are at most 12 bits wide, so the first code size is at most 11;
// decoders reject anything larger.
constexpr std::uint8_t kLargestCodeSize = 11;

// The walk's position in the image and in the file, kept together because
// cutting the image back moves the one and not the other.
class Walk {
 public:
  explicit Walk(CarveAttempt& attempt) : attempt_(attempt) {}

  // Makes the next n bytes available; false when the source ends, a read
  // fails or the file would grow past the largest GIF taken.
  bool Need(std::int64_t n) {
    if (passed_ + at_ + n > kLargestGif) return false;
    return attempt_.Loaded() >= at_ + n || attempt_.LoadUpTo(at_ + n);
  }
  // The loaded bytes from the walk's position on.
  ByteView Here() const { return attempt_.View().From(at_).value_or(ByteView()); }
  void Skip(std::int64_t n) {
    const std::int64_t moved = attempt_.CutBack(at_ + n);
    passed_ += at_ + n - moved;
    at_ = moved;
  }
  // A colour table of the size a packed field's low three bits give.
  bool SkipColourTable(std::uint8_t packed) {
    if ((packed & kHasColourTable) == 0) return true;
    const std::int64_t size = 3 * (std::int64_t{2} << (packed & 7));
    if (!Need(size)) return false;
    Skip(size);
    return true;
  }
  // Sub-blocks up to and including the empty one that ends the chain.
  bool SkipSubBlocks() {
    for (;;) {
      if (!Need(1)) return false;
      const auto length = Here().Byte(0);
      if (!length || !Need(1 + *length)) return false;
      Skip(1 + *length);
      if (*length == 0) return true;
    }
  }

 private:
  CarveAttempt& attempt_;
  std::int64_t at_ = 0;      // in the image
  std::int64_t passed_ = 0;  // file bytes cut from the image's front
};

bool WalkBlocks(CarveAttempt& attempt) {
  Walk walk(attempt);
  if (!walk.Need(kHeader + kScreenDescriptor)) return false;
  if (!walk.Here().Equals(0, signature::kGif87a) && !walk.Here().Equals(0, signature::kGif89a)) return false;
  const auto screenPacked = walk.Here().Byte(10);
  if (!screenPacked) return false;
  walk.Skip(kHeader + kScreenDescriptor);
  if (!walk.SkipColourTable(*screenPacked)) return false;
  for (;;) {
    if (!walk.Need(1)) return false;
    const auto next = walk.Here().Byte(0);
    if (!next) return false;
    const std::uint8_t introducer = *next;
    if (introducer == kTrailer) return true;
    if (introducer == kImageSeparator) {
      if (!walk.Need(kImageDescriptor)) return false;
      const auto imagePacked = walk.Here().Byte(9);
      if (!imagePacked) return false;
      walk.Skip(kImageDescriptor);
      if (!walk.SkipColourTable(*imagePacked)) return false;
      if (!walk.Need(1)) return false;
      const auto codeSize = walk.Here().Byte(0);
      if (!codeSize || *codeSize == 0 || *codeSize > kLargestCodeSize) return false;
      walk.Skip(1);
    } else if (introducer == kExtensionIntroducer) {
      if (!walk.Need(2)) return false;
      walk.Skip(2);  // introducer and label; any label is passed by its sub-blocks
    } else {
      return false;
    }
    if (!walk.SkipSubBlocks()) return false;
  }
}

}  // namespace

void GifCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkBlocks(attempt)) attempt.Succeed();
}

}  // namespace vellumark
