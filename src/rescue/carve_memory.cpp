#include "rescue/carve_memory.h"

#include <algorithm>

namespace vellumark {
namespace {
// FreeAtMost adds up this many runs at most: fewer only makes its bound
// looser, never wrong, and keeps each question cheap.
constexpr int kRunsCounted = 16;
}  // namespace

std::int64_t CarveMemory::PastClaimed(std::int64_t sector) const {
  auto after = claimedRuns_.upper_bound(sector);
  if (after == claimedRuns_.begin()) return sector;
  const auto& [first, end] = *std::prev(after);
  return sector < end ? end : sector;
}

void CarveMemory::ClaimedRun(std::int64_t first, std::int64_t end) {
  if (first >= end) return;
  // Runs that overlap or touch [first, end) merge with it.
  auto it = claimedRuns_.upper_bound(first);
  if (it != claimedRuns_.begin() && std::prev(it)->second >= first) --it;
  while (it != claimedRuns_.end() && it->first <= end) {
    first = std::min(first, it->first);
    end = std::max(end, it->second);
    it = claimedRuns_.erase(it);
  }
  claimedRuns_.emplace(first, end);
}

std::int64_t CarveMemory::FreeAtMost(std::int64_t sector, std::int64_t last) const {
  if (sector > last) return 0;
  std::int64_t free = last - sector + 1;
  auto it = claimedRuns_.upper_bound(sector);
  if (it != claimedRuns_.begin() && std::prev(it)->second > sector) --it;
  for (int counted = 0; it != claimedRuns_.end() && it->first <= last && counted < kRunsCounted; ++it, ++counted) {
    free -= std::min(it->second, last + 1) - std::max(it->first, sector);
  }
  return free;
}

void CarveMemory::Carved(std::int64_t first, std::int64_t end) {
  ClaimedRun(first, end);
  for (auto* stretch : {&jpegSearched_, &pdfQuiet_}) {
    if (*stretch && first <= (*stretch)->last && (*stretch)->first < end) stretch->reset();
  }
}

}  // namespace vellumark
