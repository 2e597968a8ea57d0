#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "access/sector_source.h"
#include "access/volume_map.h"
#include "access/volume_parameters.h"
#include "common/front_end.h"
#include "common/rate_meter.h"
#include "common/refusal.h"
#include "output/output_kind.h"
#include "rescue/carvers/carver_table.h"
#include "report/read_back.h"
#include "report/rescue_report.h"
#include "rescue/rescue_run.h"

namespace vellumark {

class ReadBackAhead;

// What the user set in the main window for one rescue.
struct ScanRequest {
  std::string saveFolder;       // a directory, not on the source
  std::string firstSectorText;  // decimal sector numbers as typed
  std::string lastSectorText;
  TypeMask typeMask = type_mask::kInitial;
  std::string reportPath;       // empty: the report goes beside the rescued files
  // Write a document a volume's records name under that name and folder
  // (made safe) rather than as TEST_xxxxxxx.
  bool originalNames = false;
};

// Where a run that was stopped before its end (the search cancelled, the
// carving stopped, or the program being ended) stopped.
struct RunStop {
  // The sector the search would have looked at next, or the range's last
  // sector when it searched the whole range.
  std::int64_t searchStoppedAt = 0;
  std::string searchedShare;  // of the range, as PercentText gives it
  bool searchCutShort = false;
  bool carvingCutShort = false;  // hits found were left uncarved
};

// The message that says where a stopped run stopped, for every front end
// alike: its text says whether the carving was cut short, its suffix the
// share of the range searched and the sector the search stopped at.
Message StopMessage(const RunStop& stop);

struct ScanResult {
  bool ran = false;        // false with no source open, or when refused
  Refusal refusal = Refusal::None;  // why the input was refused
  std::string refusalDetail;  // what the system said, with the path, where it said something
  // For ReportNotAFile and DestinationUntraced: the path at fault, and for
  // the first what it is instead of a regular file.
  std::string refusedPath;
  OutputKind refusedKind = OutputKind::Absent;
  std::int32_t rescued = 0;
  std::string reportPath;     // where the report was to be written
  bool reportWritten = false;
  std::int32_t notWritten = 0;           // documents found and selected but not written
  std::string writeFailure;              // the first reason, with the path
  std::int64_t unreadableSectors = 0;    // sectors the disk would not give
  std::optional<std::int64_t> sourceEndedAt;  // where the source stopped giving data
  std::optional<RunStop> stopped;  // none when the run went through its range and carved every hit
};

// The rescue: input checks, the search for file signatures over a sector
// range, the inference of the cluster phase, and the carving of every hit,
// highest sector first. Runs on the caller's thread and talks to the front
// end only through FrontEnd; the progress windows' buttons act through
// CancelSearch, SetPaused and Stop while the scan lets events run.
class DeepScan {
 public:
  DeepScan(SectorSource& source, VolumeParameters& parameters, FrontEnd& frontEnd);

  ScanResult Run(const ScanRequest& request);
  // What Run would refuse the request for before doing any of it, so that
  // a front end asks nothing more of a request that cannot run.
  Refusal CheckInputs(const ScanRequest& request);

  void CancelSearch() { run_.searchStop = 1; }
  // Ends the search and the carving at their next safe points; the report
  // of what was done is still written.
  void StopAll() {
    stopRequested_ = true;
    run_.searchStop = 1;
    run_.runState = kStopped;
  }
  void SetPaused(bool paused) { run_.runState = paused ? kPaused : kRunning; }
  void Stop() { run_.runState = kStopped; }
  bool SearchStopped() const { return run_.searchStop != 0; }
  // Whether StopAll ended the current run (the program is being ended).
  bool EndRequested() const { return stopRequested_; }

  // The hits of the last scan, kept until the next one.
  const std::vector<SectorHit>& Hits() const { return run_.hits; }
  const RescueRun& LastRun() const { return run_; }
  // Every compound file of the last scan, inspected as it was written.
  const std::vector<DocumentInspection>& Report() const { return report_; }
  // The volumes the last scan found on the source.
  const std::vector<VolumeRegion>& Volumes() const { return regions_; }

 private:
  void SearchPhase();
  void InferClusterPhase();
  void CarvePhase();
  void InspectDocuments(ReadBackAhead& ahead);
  std::optional<RunStop> HowFarItCame() const;
  void TellWhatWasNotDone(const ScanResult& result);
  bool WaitWhilePaused();
  void ClaimDirectoryCluster(SectorHit& hit);
  // Runs the carver on the hit, on a cluster grid through the hit's sector.
  void CarveOnOwnGrid(Carver carver, const SectorHit& hit);
  void AddVolumesFound(const std::vector<std::int64_t>& bootSectors);
  // Whether the hit lies on the cluster grid of the partition it is in.
  bool OnPartitionGrid(const SectorHit& hit) const;
  void RefreshSearch(std::int64_t current);

  SectorSource& source_;
  VolumeParameters& parameters_;
  FrontEnd& frontEnd_;
  RescueRun run_;
  std::vector<DocumentInspection> report_;
  // The volumes a partition table lists: each is searched and carved on
  // its own cluster grid. Empty for a source that is one volume (its boot
  // sector set the scan's layout) or holds no known table.
  std::vector<VolumeRegion> regions_;
  std::vector<VolumeRegion> partitions_;
  std::string reportPath_;
  std::string refusedPath_;
  OutputKind refusedKind_ = OutputKind::Absent;
  ReportPlacement reportPlacement_ = ReportPlacement::KeepOthers;
  bool stopRequested_ = false;
  std::int64_t searchReached_ = 0;  // the sector the search would have looked at next
  bool carvingCutShort_ = false;
  std::optional<RateMeter> searchPace_;
  // The carving's pace, in hits handled rather than bytes: a hit's file may
  // be anything from a sector to many megabytes long.
  std::optional<RateMeter> carvePace_;
};

}  // namespace vellumark
