// Runs the reassembly alone on one compound header of an image file and
// prints what it took: placements evaluated, seconds, and what came back.
// For bench/reassembly_cost.py; the rescue itself never measures time.
//
//     reassembly_probe IMAGE HEADER_SECTOR CLUSTER_SECTORS
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "access/posix_platform_source.h"
#include "access/sector_source.h"
#include "common/front_end.h"
#include "rescue/carvers/compound_reassembly.h"
#include "rescue/rescue_run.h"

int main(int argc, char** argv) {
  using namespace vellumark;
  if (argc != 4) {
    std::fprintf(stderr, "usage: reassembly_probe IMAGE HEADER_SECTOR CLUSTER_SECTORS\n");
    return 2;
  }
  const std::int64_t header = std::atoll(argv[2]);
  const auto spc = static_cast<std::uint32_t>(std::atoi(argv[3]));
  SectorSource source(std::make_unique<PosixPlatformSource>());
  if (!source.OpenImageFile(argv[1]).ok() || spc == 0) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  SilentPrompt prompt;
  NoPump pump;
  NoProgress progress;
  FrontEnd frontEnd{prompt, pump, progress};
  RescueRun run(source, frontEnd);
  run.claims = ClaimMap(source.ScanGeometry().LastSector);
  run.spc = spc;
  run.chosenPhase = static_cast<std::int32_t>(header % spc);
  const auto start = std::chrono::steady_clock::now();
  const ReassemblyOutcome outcome = ReassembleCompound(run, header * 512);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  std::printf("placements %llu seconds %.3f result %s\n", static_cast<unsigned long long>(outcome.placementsEvaluated),
              took.count(), outcome.whole ? "whole" : outcome.partial ? "partial" : "none");
  return 0;
}
