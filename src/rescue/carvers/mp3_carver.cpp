// MP3 and other MPEG audio: an optional ID3v2 tag (its synchsafe size, a
// footer when flagged), then frames as long as each header follows where the
// one before says its frame ends, then an APE tag and an ID3v1 tag when they
// are there. Frames carry no count and no end marker: the file ends where
// the next header is missing, so the walk looks at the bytes after the last
// frame and gives back a sector it loaded only for that look.
#include <optional>

#include "common/byte_view.h"
#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"
#include "formats/mpeg_audio_header.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestMp3 = 536'870'912;
constexpr std::int64_t kId3v2Header = 10;
constexpr std::int64_t kId3v1Tag = 128;
constexpr std::int64_t kApeHeader = 32;
constexpr std::uint32_t kLargestApeTag = 16'777'216;
constexpr std::uint32_t kApeIsHeader = 1u << 29;
constexpr int kFewestFrames = 2;  // as the classifier asks of a file without a tag

// The length of the ID3v2 tag at the start of bytes, or -1 when the header
// is not one (or not all there): a version from 2 to 4, no flag that version
// does not define, and a size of four 7-bit bytes.
std::int64_t Id3v2Length(ByteView bytes) {
  const auto header = bytes.Array<kId3v2Header>(0);
  if (!header || !bytes.Equals(0, signature::kId3)) return -1;
  const auto& p = *header;
  if (p[3] < 2 || p[3] > 4 || p[4] == 0xFF) return -1;
  static constexpr std::uint8_t kUndefinedFlags[] = {0x3F, 0x1F, 0x0F};  // v2.2, v2.3, v2.4
  if ((p[5] & kUndefinedFlags[p[3] - 2]) != 0) return -1;
  std::int64_t size = 0;
  for (int i = 6; i < 10; ++i) {
    if ((p[i] & 0x80) != 0) return -1;
    size = size << 7 | p[i];
  }
  const bool footer = p[3] == 4 && (p[5] & 0x10) != 0;
  return kId3v2Header + size + (footer ? kId3v2Header : 0);
}

class Walk {
 public:
  explicit Walk(CarveAttempt& attempt) : attempt_(attempt) {}

  // Loads the next n bytes. False when the source ends or a read fails;
  // failed_ tells the two apart.
  bool Peek(std::int64_t n) {
    if (attempt_.Loaded() >= at_ + n) return true;
    if (attempt_.LoadUpTo(at_ + n)) return true;
    failed_ = !attempt_.AtSourceEnd();
    return false;
  }
  // The loaded bytes from the walk's position on.
  ByteView Here() const { return attempt_.View().From(at_).value_or(ByteView()); }
  // Passes a structure of n bytes that starts here, its middle unread.
  bool Pass(std::int64_t n) {
    if (fileOffset_ + n > kLargestMp3) return false;
    const std::int64_t next = attempt_.PassStructure(at_, n);
    if (next < 0) return false;
    fileOffset_ += n;
    at_ = attempt_.CutBack(next);
    return true;
  }
  bool Failed() const { return failed_; }
  void End() { attempt_.GiveBackFrom(at_); }

 private:
  CarveAttempt& attempt_;
  std::int64_t at_ = 0;
  std::int64_t fileOffset_ = 0;
  bool failed_ = false;
};

bool WalkFrames(CarveAttempt& attempt) {
  Walk walk(attempt);
  if (!walk.Peek(kId3v2Header)) return false;
  if (walk.Here().Equals(0, signature::kId3)) {
    const std::int64_t tag = Id3v2Length(walk.Here());
    if (tag < 0 || !walk.Pass(tag)) return false;
  }
  std::optional<MpegAudioFrame> first;
  int frames = 0;
  for (;;) {
    if (!walk.Peek(4)) {
      if (walk.Failed()) return false;
      break;  // the source ends with the frame before
    }
    const auto header = walk.Here().Array<4>(0);
    if (!header) return false;
    const std::optional<MpegAudioFrame> frame = ParseMpegAudioHeader(header->data());
    if (!frame || (first && !first->SameStream(*frame))) break;
    if (!first) first = frame;
    // A frame cut off by the source's end is a file cut short.
    if (!walk.Pass(frame->length)) return false;
    ++frames;
  }
  if (frames < kFewestFrames) return false;
  // Tags after the frames: APE (with its header, the form taggers write in
  // front of an ID3v1 tag), then ID3v1. Either is taken only whole.
  if (walk.Peek(kApeHeader) && walk.Here().Equals(0, signature::kApeTag)) {
    const auto flags = walk.Here().Le32(20), size = walk.Here().Le32(12);
    if (!flags || !size) return false;
    if ((*flags & kApeIsHeader) != 0 && *size >= kApeHeader && *size <= kLargestApeTag &&
        !walk.Pass(kApeHeader + *size)) {
      return false;
    }
  }
  if (walk.Failed()) return false;
  if (walk.Peek(3) && walk.Here().Equals(0, signature::kId3v1) && walk.Peek(kId3v1Tag)) walk.Pass(kId3v1Tag);
  if (walk.Failed()) return false;
  walk.End();
  return true;
}

}  // namespace

void Mp3Carver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (WalkFrames(attempt)) attempt.Succeed();
}

}  // namespace vellumark
