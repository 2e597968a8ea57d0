#include "rescue/document_record.h"

#include <algorithm>

namespace vellumark {

bool RunsHold(const std::vector<SectorRun>& runs, std::int64_t sector) {
  return std::any_of(runs.begin(), runs.end(),
                     [&](const SectorRun& run) { return sector >= run.first && sector < run.first + run.count; });
}

std::vector<SectorRun> RunsOf(const std::vector<std::int64_t>& sectors, std::size_t count) {
  std::vector<SectorRun> runs;
  for (std::size_t i = 0; i < std::min(count, sectors.size()); ++i) {
    if (!runs.empty() && runs.back().first + runs.back().count == sectors[i]) {
      ++runs.back().count;
    } else {
      runs.push_back({sectors[i], 1});
    }
  }
  return runs;
}

}  // namespace vellumark
