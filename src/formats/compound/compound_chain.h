#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace vellumark::compound {

// How a chain through an allocation table ended.
enum class ChainEnd : std::uint8_t {
  EndOfChain,   // at the end-of-chain mark: the chain is whole
  Loop,         // at a sector already on it
  LeavesTable,  // at a sector the table has no entry for, or at another mark
  Limit,        // after as many sectors as the caller allowed
};

struct ChainWalk {
  std::vector<std::uint32_t> sectors;  // in chain order, each once
  ChainEnd end = ChainEnd::EndOfChain;
};

// Follows a chain from start through a FAT or mini FAT, one entry a sector:
// at most limit sectors, each at most once, so that no table, however
// damaged or hostile, makes the walk longer than the table or the limit.
ChainWalk FollowChain(std::span<const std::uint32_t> table, std::uint32_t start, std::size_t limit);

}  // namespace vellumark::compound
