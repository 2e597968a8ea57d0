#include "formats/compound/compound_chain.h"

#include "formats/compound/compound_layout.h"

namespace vellumark::compound {

ChainWalk FollowChain(std::span<const std::uint32_t> table, std::uint32_t start, std::size_t limit) {
  ChainWalk walk;
  std::vector<bool> seen(table.size(), false);
  for (std::uint32_t sector = start; sector != kEndOfChain; sector = table[sector]) {
    if (walk.sectors.size() >= limit) return {std::move(walk.sectors), ChainEnd::Limit};
    if (sector >= table.size()) return {std::move(walk.sectors), ChainEnd::LeavesTable};
    if (seen[sector]) return {std::move(walk.sectors), ChainEnd::Loop};
    seen[sector] = true;
    walk.sectors.push_back(sector);
  }
  return walk;
}

}  // namespace vellumark::compound
