// gzip: the members are inflated with zlib, which finds where each ends and
// checks its trailer (CRC-32 and length of the data); a stream that does not
// inflate or check claims nothing. Members written one after the other (as
// "cat a.gz b.gz" makes them) are followed. Deflate data cannot be skipped,
// so every sector is read, one at a time, and the image is cut back behind.
#include <zlib.h>

#include <vector>

#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestGzip = 1'073'741'824;
// Inflated bytes at most: far beyond what any real file of the largest
// size holds, short of what a crafted stream could make the walk spend.
constexpr std::uint64_t kLargestInflated = 17'179'869'184;
constexpr std::size_t kScratch = 65'536;
constexpr int kGzipOnly = 16 + MAX_WBITS;

bool MemberStartsAt(ByteView bytes, std::int64_t at) { return bytes.Equals(at, signature::kGzip); }

class Inflater {
 public:
  Inflater() { ok_ = inflateInit2(&stream_, kGzipOnly) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&stream_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool Ok() const { return ok_; }
  z_stream& Stream() { return stream_; }

 private:
  z_stream stream_{};
  bool ok_ = false;
};

bool WalkMembers(CarveAttempt& attempt) {
  Inflater inflater;
  if (!inflater.Ok()) return false;
  z_stream& z = inflater.Stream();
  std::vector<std::uint8_t> scratch(kScratch);
  std::int64_t at = 0;    // the next byte to inflate, in the image
  std::int64_t file = 0;  // the same in the file
  std::uint64_t inflated = 0;
  for (;;) {
    if (at == attempt.Loaded()) {
      if (file >= kLargestGzip || !attempt.LoadOneMore()) return false;
    }
    const auto input = attempt.View().From(at);
    if (!input) return false;
    z.next_in = const_cast<Bytef*>(input->Data());
    z.avail_in = static_cast<uInt>(input->Size());
    int status = Z_OK;
    do {
      z.next_out = scratch.data();
      z.avail_out = static_cast<uInt>(scratch.size());
      status = inflate(&z, Z_NO_FLUSH);
      inflated += scratch.size() - z.avail_out;
      if (inflated > kLargestInflated) return false;
    } while (status == Z_OK && (z.avail_in > 0 || z.avail_out == 0));
    if (status == Z_BUF_ERROR) status = Z_OK;  // no progress without more input
    const std::int64_t used = attempt.Loaded() - at - z.avail_in;
    at += used;
    file += used;
    if (status != Z_OK && status != Z_STREAM_END) return false;
    if (status == Z_STREAM_END) {
      // Another member, or the end: a look at the next three bytes, given
      // back when they belong to something else.
      if (attempt.Loaded() < at + 3 && !attempt.LoadUpTo(at + 3)) {
        if (!attempt.AtSourceEnd()) return false;
        break;
      }
      if (!MemberStartsAt(attempt.View(), at) || inflateReset(&z) != Z_OK) break;
    }
    at = attempt.CutBack(at);
  }
  attempt.GiveBackFrom(at);
  return true;
}

}  // namespace

void GzipCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (!MemberStartsAt(attempt.View(), 0)) return;
  if (WalkMembers(attempt)) attempt.Succeed();
}

}  // namespace vellumark
