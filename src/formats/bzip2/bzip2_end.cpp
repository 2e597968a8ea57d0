#include "formats/bzip2/bzip2_end.h"

#include <bzlib.h>

#include <array>

namespace vellumark {

struct Bzip2End::Stream {
  bz_stream bz{};
  bool ok = false;
  std::array<char, 65536> scratch;  // what comes out is counted, not kept
  Stream() { ok = BZ2_bzDecompressInit(&bz, 0, 0) == BZ_OK; }
  ~Stream() {
    if (ok) BZ2_bzDecompressEnd(&bz);
  }
};

Bzip2End::Bzip2End() : stream_(std::make_unique<Stream>()) {
  if (!stream_->ok) state_ = State::Broken;
}

Bzip2End::~Bzip2End() = default;

Bzip2End::State Bzip2End::Feed(ByteView bytes) {
  if (state_ != State::Going || bytes.Size() == 0) return state_;
  bz_stream& bz = stream_->bz;
  // libbz2 takes its input as char* but never writes through it; it counts
  // in 32-bit units, so a large piece is offered a gigabyte at a time.
  const std::uint8_t* next = bytes.Data();
  std::uint64_t left = bytes.Size();
  while (left > 0) {
    const auto offered = static_cast<unsigned>(std::min<std::uint64_t>(left, std::uint64_t{1} << 30));
    bz.next_in = reinterpret_cast<char*>(const_cast<std::uint8_t*>(next));
    bz.avail_in = offered;
    int status = BZ_OK;
    do {
      bz.next_out = stream_->scratch.data();
      bz.avail_out = static_cast<unsigned>(stream_->scratch.size());
      status = BZ2_bzDecompress(&bz);
      output_ += stream_->scratch.size() - bz.avail_out;
      if (output_ > kLargestOutput) return state_ = State::Broken;
    } while (status == BZ_OK && (bz.avail_in > 0 || bz.avail_out == 0));
    const unsigned used = offered - bz.avail_in;
    taken_ += used;
    next += used;
    left -= used;
    if (status == BZ_STREAM_END) return state_ = State::Done;
    if (status != BZ_OK) return state_ = State::Broken;
  }
  return state_;
}

}  // namespace vellumark
