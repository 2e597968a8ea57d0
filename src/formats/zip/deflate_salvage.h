#pragma once

// What can still be inflated of a raw deflate stream whose data holds
// foreign bytes: the stream up to where it fails, then, from each point
// after a failure where a later block of it can be picked up again, the
// rest, as far as it goes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vellumark {

// Stands in the output for bytes copied from output that was lost: a later
// block refers back to text before it, and that text may lie in the lost
// stretch.
inline constexpr std::uint8_t kLostByte = 0;

struct SalvagedStream {
  // The stretches inflated, in order; between two of them output was lost.
  std::vector<std::vector<std::uint8_t>> stretches;
  std::uint64_t sound = 0;  // bytes of them that are not kLostByte
  bool ended = false;       // the last stretch reached the stream's end
  std::uint64_t work = 0;   // trials and bytes inflated, for those who count it
};

// Inflates in (a raw deflate stream as far as it is at hand) as far as its
// data is sound. The output is taken to be XML markup: a stretch ends where
// it stops being text, its tags stop closing in order, or the stream fails,
// less what the last bytes of data before that made (foreign bytes decode
// for a while before they fail). A later block is taken up at a bit whose
// decoding gives such markup for long enough; the search from one failure
// looks at most scanBytes further, and is made only when the stream's start
// inflated to something.
// The whole is bounded by budget units of work (one a trial, one a byte
// inflated) and by limit bytes of output.
SalvagedStream SalvageDeflate(std::span<const std::uint8_t> in, std::uint64_t limit, std::uint64_t budget,
                              std::size_t scanBytes = 128 * 1024);

}  // namespace vellumark
