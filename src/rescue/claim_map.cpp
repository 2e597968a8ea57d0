#include "rescue/claim_map.h"

#include <bit>

namespace vellumark {

ClaimMap::ClaimMap(std::int64_t lastSector)
    : words_(lastSector >= 0 ? static_cast<std::size_t>(lastSector / 32 + 1) : 0, 0u),
      lastSector_(lastSector) {}

std::int64_t ClaimMap::CountClaimed() const {
  std::int64_t count = 0;
  for (std::uint32_t word : words_) count += std::popcount(word);
  return count;
}

void ClaimMap::Reset() {
  words_.clear();
  words_.shrink_to_fit();
  lastSector_ = -1;
}

}  // namespace vellumark
