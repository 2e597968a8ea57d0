// xz: the stream is decoded with liblzma, which finds where it ends and
// checks every block's check (CRC-32, CRC-64 or SHA-256), the index against
// the blocks and the footer against the index; a stream that does not decode
// or check claims nothing. Padding after the stream is not part of it. The
// blocks cannot be skipped, so every sector is read, one at a time, and the
// image is cut back behind.
#include <lzma.h>

#include <vector>

#include "rescue/carve_services.h"
#include "formats/file_signatures.h"
#include "rescue/carvers/carvers.h"

namespace vellumark {
namespace {

constexpr std::int64_t kLargestXz = 1'073'741'824;
// Decoded bytes at most; see the gzip carver.
constexpr std::uint64_t kLargestOutput = 17'179'869'184;
// Enough for the dictionary of "xz -9e" (64 MiB) and more; a header asking
// for more memory than this is no file a real tool wrote.
constexpr std::uint64_t kMemoryLimit = 268'435'456;
constexpr std::size_t kScratch = 65'536;

class Decoder {
 public:
  Decoder() { ok_ = lzma_stream_decoder(&stream_, kMemoryLimit, 0) == LZMA_OK; }
  ~Decoder() { lzma_end(&stream_); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  bool Ok() const { return ok_; }
  lzma_stream& Stream() { return stream_; }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
  bool ok_ = false;
};

bool WalkStream(CarveAttempt& attempt) {
  Decoder decoder;
  if (!decoder.Ok()) return false;
  lzma_stream& xz = decoder.Stream();
  std::vector<std::uint8_t> scratch(kScratch);
  std::int64_t at = 0;    // the next byte to decode, in the image
  std::int64_t file = 0;  // the same in the file
  std::uint64_t output = 0;
  for (;;) {
    if (at == attempt.Loaded()) {
      if (file >= kLargestXz || !attempt.LoadOneMore()) return false;
    }
    const auto input = attempt.View().From(at);
    if (!input) return false;
    xz.next_in = input->Data();
    xz.avail_in = input->Size();
    lzma_ret status = LZMA_OK;
    do {
      xz.next_out = scratch.data();
      xz.avail_out = scratch.size();
      status = lzma_code(&xz, LZMA_RUN);
      output += scratch.size() - xz.avail_out;
      if (output > kLargestOutput) return false;
    } while (status == LZMA_OK && (xz.avail_in > 0 || xz.avail_out == 0));
    if (status == LZMA_BUF_ERROR) status = LZMA_OK;  // no progress without more input
    const std::int64_t used = attempt.Loaded() - at - static_cast<std::int64_t>(xz.avail_in);
    at += used;
    file += used;
    if (status == LZMA_STREAM_END) return true;
    if (status != LZMA_OK) return false;
    at = attempt.CutBack(at);
  }
}

}  // namespace

void XzCarver(RescueRun& run, std::int64_t hitOffset) {
  CarveAttempt attempt(run, hitOffset, kGrowthSmall);
  if (!attempt.Start()) return;
  if (!attempt.View().Equals(0, signature::kXz)) return;
  if (WalkStream(attempt)) attempt.Succeed();
}

}  // namespace vellumark
