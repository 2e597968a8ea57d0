#include "report/sector_vouching.h"

#include <algorithm>

#include "formats/document_check.h"

namespace vellumark {
namespace {

constexpr std::uint64_t kFileSector = 512;

// For each of the file's sectors, the index of the source run its first
// byte came from; sectors past the runs each get one of their own.
std::vector<std::size_t> RunOfEachSector(std::size_t sectors, const std::vector<SectorRun>& runs,
                                         std::int64_t bytesPerSector) {
  std::vector<std::size_t> runOf(sectors);
  std::size_t run = 0;
  std::uint64_t runStart = 0;  // the run's first byte in the file
  for (std::size_t f = 0; f < sectors; ++f) {
    const std::uint64_t at = f * kFileSector;
    while (run < runs.size() && bytesPerSector > 0 &&
           at >= runStart + static_cast<std::uint64_t>(runs[run].count) * static_cast<std::uint64_t>(bytesPerSector)) {
      runStart += static_cast<std::uint64_t>(runs[run].count) * static_cast<std::uint64_t>(bytesPerSector);
      ++run;
    }
    runOf[f] = run < runs.size() && bytesPerSector > 0 ? run : runs.size() + f;
  }
  return runOf;
}

}  // namespace

SectorVouching VouchSectors(std::span<const std::uint8_t> file, const std::vector<SectorRun>& runs,
                            std::int64_t bytesPerSector) {
  SectorVouching result;
  StructureCoverage coverage = CheckDocumentCoverage(file);
  result.verdict = std::move(coverage.verdict);
  if (result.verdict.verdict != Verdict::Whole) return result;
  const std::vector<bool>& pinned = coverage.pinned;
  const std::vector<std::size_t> runOf = RunOfEachSector(pinned.size(), runs, bytesPerSector);
  std::vector<std::size_t> vouchedRuns;
  for (std::size_t f = 0; f < pinned.size(); ++f) {
    if (pinned[f]) vouchedRuns.push_back(runOf[f]);
  }
  std::sort(vouchedRuns.begin(), vouchedRuns.end());
  for (std::size_t f = 0; f < pinned.size(); ++f) {
    if (std::binary_search(vouchedRuns.begin(), vouchedRuns.end(), runOf[f])) continue;
    ++result.unverifiedSectors;
    const std::uint64_t first = f * kFileSector;
    const std::uint64_t last = std::min<std::uint64_t>(first + kFileSector, file.size()) - 1;
    if (!result.unverified.empty() && result.unverified.back().last + 1 == first) {
      result.unverified.back().last = last;
    } else {
      result.unverified.push_back({first, last});
    }
  }
  if (result.unverifiedSectors != 0) result.verdict.verdict = Verdict::WholeStructure;
  return result;
}

std::string ByteRangesText(const std::vector<ByteRange>& ranges) {
  std::string text;
  for (const ByteRange& range : ranges) {
    if (!text.empty()) text += ' ';
    text += std::to_string(range.first) + '-' + std::to_string(range.last);
  }
  return text;
}

}  // namespace vellumark
