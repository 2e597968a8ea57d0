#pragma once

#include <cstdint>
#include <memory>

#include "common/byte_view.h"

namespace vellumark {

// Where a bzip2 stream ends, found by decompressing it with libbz2, which
// checks every block's CRC and the stream's combined CRC: nothing short of
// that notices a foreign sector inside a block's data, since its Huffman
// codes fall back in step after damage. Fed the stream's bytes in order,
// in pieces of any size; how they are cut changes nothing of the outcome.
class Bzip2End {
 public:
  enum class State { Going, Done, Broken };

  Bzip2End();
  ~Bzip2End();
  Bzip2End(const Bzip2End&) = delete;
  Bzip2End& operator=(const Bzip2End&) = delete;

  // Takes the stream's next bytes. Going when all of them were taken and
  // the stream goes on; Done once its end was read (bytes after it are left,
  // and Length says where it ended); Broken when it does not decompress or
  // check, or would decompress to more than kLargestOutput bytes.
  State Feed(ByteView bytes);
  State Current() const { return state_; }
  // The bytes taken so far: the stream's length once Done.
  std::int64_t Length() const { return taken_; }

  // Decompressed bytes at most: a stream that claims more is a bomb's or
  // not a stream (a bzip2 run can turn a few bytes into thousands).
  static constexpr std::uint64_t kLargestOutput = 17'179'869'184;

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;
  State state_ = State::Going;
  std::int64_t taken_ = 0;
  std::uint64_t output_ = 0;
};

}  // namespace vellumark
