// bzip2: the stream is decompressed with libbz2, which finds where it ends
// and checks each block's CRC and the stream's combined CRC; a stream that
// does not decompress or check claims nothing. The compressed blocks cannot
// be skipped, so every sector is read, one at a time, and the image is cut
// back behind.
#include <bzlib.h>

#include <vector>

#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestBzip2 = 1'073'741'824;
// Decompressed bytes at most; see the gzip carver.
constexpr std::uint64_t kLargestOutput = 17'179'869'184;
constexpr std::size_t kScratch = 65'536;

class Decompressor {
 public:
  Decompressor() { ok_ = BZ2_bzDecompressInit(&stream_, 0, 0) == BZ_OK; }
  ~Decompressor() {
    if (ok_) BZ2_bzDecompressEnd(&stream_);
  }
  Decompressor(const Decompressor&) = delete;
  Decompressor& operator=(const Decompressor&) = delete;
  bool Ok() const { return ok_; }
  bz_stream& Stream() { return stream_; }

 private:
  bz_stream stream_{};
  bool ok_ = false;
};

bool WalkStream(CarveAttempt& attempt) {
  Decompressor decompressor;
  if (!decompressor.Ok()) return false;
  bz_stream& bz = decompressor.Stream();
  std::vector<char> scratch(kScratch);
  std::int64_t at = 0;    // the next byte to decompress, in the image
  std::int64_t file = 0;  // the same in the file
  std::uint64_t output = 0;
  for (;;) {
    if (at == attempt.Loaded()) {
      if (file >= kLargestBzip2 || !attempt.LoadOneMore()) return false;
    }
    // libbz2 takes its input as char* but never writes through it.
    const auto input = attempt.View().From(at);
    if (!input) return false;
    bz.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(input->Data()));
    bz.avail_in = static_cast<unsigned>(input->Size());
    int status = BZ_OK;
    do {
      bz.next_out = scratch.data();
      bz.avail_out = static_cast<unsigned>(scratch.size());
      status = BZ2_bzDecompress(&bz);
      output += scratch.size() - bz.avail_out;
      if (output > kLargestOutput) return false;
    } while (status == BZ_OK && (bz.avail_in > 0 || bz.avail_out == 0));
    const std::int64_t used = attempt.Loaded() - at - bz.avail_in;
    at += used;
    file += used;
    if (status == BZ_STREAM_END) return true;
    if (status != BZ_OK) return false;
    at = attempt.CutBack(at);
  }
}

}  // namespace

void Bzip2Carver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(0, signature::kBzip2)) return;
  if (WalkStream(attempt)) attempt.Succeed();
}

}  // namespace vellumark
