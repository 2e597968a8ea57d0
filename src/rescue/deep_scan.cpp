#include "rescue/deep_scan.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "access/destination_rule.h"
#include "common/sector_number.h"
#include "output/folder_lock.h"
#include "output/staged_file.h"
#include "rescue/carve_services.h"
#include "rescue/document_writer.h"
#include "rescue/measure_ahead.h"
#include "rescue/carvers/carver_table.h"
#include "report/original_names.h"
#include "rescue/percent_text.h"
#include "report/record_rebuild.h"
#include "report/read_back_ahead.h"
#include "report/rescue_report.h"
#include "rescue/search_read_ahead.h"
#include "rescue/sector_classifier.h"
#include "rescue/unrebuilt_document.h"

namespace vellumark {

namespace {
constexpr int kMinimumPhaseVotes = 4;

// Whether path is, or could become, one of the files a rescue into
// saveFolder writes (a rescued document, numbered or not, or the lock).
bool NamesAnOutput(const std::string& path, const std::string& saveFolder) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path folder = fs::absolute(path, error).parent_path();
  if (!fs::equivalent(folder, saveFolder, error)) return false;
  const std::string name = fs::path(path).filename().string();
  return IsOutputName(name) || name == FolderLock::kFileName;
}

}  // namespace

Message StopMessage(const RunStop& stop) {
  return {stop.carvingCutShort ? slot::kStoppedCarvingCut : slot::kStoppedCarvingDone, slot::kRunStopped,
          stop.searchedShare + ", " + std::to_string(stop.searchStoppedAt)};
}

DeepScan::DeepScan(SectorSource& source, VolumeParameters& parameters, FrontEnd& frontEnd)
    : source_(source), parameters_(parameters), frontEnd_(frontEnd), run_(source, frontEnd) {}

Refusal DeepScan::CheckInputs(const ScanRequest& request) {
  refusedKind_ = OutputKind::Absent;
  refusedPath_ = request.saveFolder;
  if (request.typeMask == 0) return Refusal::NoFileType;
  std::error_code error;
  if (request.saveFolder.empty() || !std::filesystem::is_directory(request.saveFolder, error)) {
    return Refusal::NoSaveFolder;
  }
  const DestinationRule rule(source_);
  switch (rule.CheckFolder(request.saveFolder)) {
    case DestinationRefusal::None: break;
    case DestinationRefusal::OnSource: return Refusal::FolderOnSource;
    case DestinationRefusal::Unresolved: return Refusal::DestinationUntraced;
  }

  parameters_.ApplyClusterSize();  // the cluster-size list decides spc
  run_.saveFolder = request.saveFolder;
  if (run_.saveFolder.back() != '/') run_.saveFolder += '/';

  reportPlacement_ = request.reportPath.empty() ? ReportPlacement::KeepOthers : ReportPlacement::Replace;
  reportPath_ = request.reportPath.empty() ? run_.saveFolder + kReportFileName : request.reportPath;
  // A report the user named replaces what has the name: only ever a regular
  // file, known before the scan rather than after it.
  refusedPath_ = reportPath_;
  if (!request.reportPath.empty()) {
    if (const OutputKind kind = KindOfOutputPath(reportPath_); !OutputMayTake(kind)) {
      refusedKind_ = kind;
      return Refusal::ReportNotAFile;
    }
  }
  switch (rule.CheckFile(std::filesystem::absolute(reportPath_, error).string())) {
    case DestinationRefusal::None: break;
    case DestinationRefusal::OnSource: return Refusal::ReportOnSource;
    case DestinationRefusal::Unresolved: return Refusal::DestinationUntraced;
  }
  if (!request.reportPath.empty() && NamesAnOutput(reportPath_, run_.saveFolder)) return Refusal::ReportNameTaken;

  const std::int64_t first = ParseSectorNumber(request.firstSectorText);
  const std::int64_t last = ParseSectorNumber(request.lastSectorText);
  if (first < 0 || first > last || last > source_.ScanGeometry().LastSector) return Refusal::ScanRangeInvalid;
  run_.firstSector = first;
  run_.lastSector = last;
  return Refusal::None;
}

ScanResult DeepScan::Run(const ScanRequest& request) {
  if (!source_.IsOpen()) return {};
  Refusal refusal = CheckInputs(request);
  // Held until the report is written: a second run into the same folder
  // would take the same names.
  FolderLock lock;
  std::string detail;
  if (refusal == Refusal::None) {
    switch (lock.Acquire(run_.saveFolder)) {
      case FolderLock::Outcome::Locked: break;
      case FolderLock::Outcome::Busy: refusal = Refusal::FolderBusy; break;
      case FolderLock::Outcome::Failed:
        // Creating the lock is the first write: a folder that takes no files
        // is known here, before the scan, with the system's reason. The lock
        // file is named, since the folder may be fine and the lock not (a
        // link planted in its place is never followed).
        refusal = Refusal::FolderUnwritable;
        detail = run_.saveFolder + FolderLock::kFileName + ": " + std::strerror(errno);
        break;
    }
  }
  if (refusal == Refusal::None) StagedFile::RemoveAbandoned(run_.saveFolder);  // left by runs that died
  if (refusal != Refusal::None) {
    ScanResult refused;
    refused.refusal = refusal;
    refused.refusalDetail = detail;
    refused.refusedKind = refusedKind_;
    refused.refusedPath = refusedPath_;
    return refused;
  }

  const VolumeGeometry& geometry = source_.ScanGeometry();
  run_.typeMask = request.typeMask;
  run_.claims = ClaimMap(geometry.LastSector);
  run_.memory = CarveMemory();  // it describes these claims
  run_.carveSteps = 0;
  run_.spc = std::max<std::uint32_t>(geometry.SectorsPerCluster, 1);
  run_.knownPhase = geometry.ClusterPhase;
  // A phase read from the boot sector can exceed the list's largest cluster
  // (64 KiB clusters show as "32K"); its residue still marks cluster starts.
  if (run_.knownPhase >= 0 && run_.spc > 1) run_.knownPhase %= static_cast<std::int32_t>(run_.spc);

  // The volumes on the source, before the search: a partition's own layout
  // decides where its clusters start. A source that is one volume keeps the
  // layout its boot sector and the user's choices gave.
  regions_ = MapVolumes(source_);
  partitions_.clear();
  for (const VolumeRegion& region : regions_) {
    if (region.firstSector > 0) partitions_.push_back(region);
  }

  stopRequested_ = false;
  SearchPhase();
  InferClusterPhase();
  ReadBackAhead ahead;
  {
    // Detached however the carving ends, so that no later save finds it gone.
    struct Attached {
      RescueRun& run;
      ~Attached() {
        run.savedDocuments = nullptr;
        run.writer = nullptr;
      }
    } attached{run_};
    run_.savedDocuments = &ahead;
    DocumentWriter writer(&ahead);
    run_.writer = &writer;
    CarvePhase();
    run_.writer = nullptr;
    writer.Finish(run_);
  }
  run_.claims.Reset();

  InspectDocuments(ahead);
  // What the volumes' own records say of the documents: their names,
  // folders and times (read once the carving is done, so that a deleted
  // file's record cannot decide what is carved).
  std::set<std::int64_t> documentStarts;
  for (const DocumentInspection& inspection : report_) documentStarts.insert(inspection.record.startSector);
  const std::vector<OriginalFile> originals = ReadVolumeRecords(source_, regions_, documentStarts);
  // A file whose record lists every sector (NTFS's runs, ext4's extents,
  // a contiguous exFAT file), or a deleted FAT/exFAT file's free clusters
  // from its first on, is read from them where the carving did not bring
  // it back whole; the checks decide.
  run_.rescued += RebuildFromRecords(source_, report_, originals, run_.saveFolder, run_.typeMask);
  NameAfterRecords(report_, originals, regions_, request.originalNames, run_.saveFolder);
  ScanResult result;
  result.ran = true;
  result.rescued = run_.rescued;
  result.reportPath = reportPath_;
  if (const auto written = WriteRescueReport(reportPath_, report_, reportPlacement_, run_.saveFolder)) {
    result.reportPath = *written;
    result.reportWritten = true;
  }
  lock.Release();
  result.notWritten = run_.notWritten;
  result.writeFailure = run_.writeFailure;
  result.unreadableSectors = static_cast<std::int64_t>(source_.UnreadableSectors().size());
  result.sourceEndedAt = source_.EndedAtSector();
  result.stopped = HowFarItCame();

  TellWhatWasNotDone(result);
  frontEnd_.prompt.Show({slot::kRescuedFile, slot::kFinished, std::to_string(run_.rescued)});
  return result;
}

// A run is stopped when its search ended before the range's last sector or
// its carving before the last hit: a partial run must never pass for a whole
// one.
std::optional<RunStop> DeepScan::HowFarItCame() const {
  const bool searchCutShort = searchReached_ <= run_.lastSector;
  if (!searchCutShort && !carvingCutShort_) return std::nullopt;
  RunStop stop;
  stop.searchCutShort = searchCutShort;
  stop.carvingCutShort = carvingCutShort_;
  stop.searchStoppedAt = searchCutShort ? searchReached_ : run_.lastSector;
  stop.searchedShare = PercentText(run_.total, std::min(searchReached_, run_.lastSector + 1) - run_.firstSector);
  return stop;
}

// Before the count of rescued files: where a stopped run stopped, and what
// the disks did not allow.
void DeepScan::TellWhatWasNotDone(const ScanResult& result) {
  if (result.stopped) frontEnd_.prompt.Show(StopMessage(*result.stopped));
  if (result.sourceEndedAt) {
    frontEnd_.prompt.Show({slot::kSourceEnded, slot::kError, std::to_string(*result.sourceEndedAt)});
  }
  if (result.unreadableSectors > 0) {
    // The count, then the first few, so that they can be looked at.
    std::string sectors = std::to_string(result.unreadableSectors) + ":";
    int listed = 0;
    for (const std::int64_t sector : source_.UnreadableSectors()) {
      if (++listed > 5) {
        sectors += " ...";
        break;
      }
      sectors += " " + std::to_string(sector);
    }
    frontEnd_.prompt.Show({slot::kUnreadableSectors, slot::kError, sectors});
  }
  if (result.notWritten > 0) {
    frontEnd_.prompt.Show(
        {slot::kNotWritten, slot::kError, std::to_string(result.notWritten) + " (" + result.writeFailure + ")"});
  }
}

// Every document as it was written: inspected during the carving where it
// could be, else read back from the destination now.
void DeepScan::InspectDocuments(ReadBackAhead& ahead) {
  report_.clear();
  for (const DocumentRecord& record : run_.documents) {
    auto inspection = ahead.Take(record);
    report_.push_back(inspection ? std::move(*inspection) : InspectDocument(record));
    frontEnd_.pump.ProcessPendingEvents();
  }
}

void DeepScan::RefreshSearch(std::int64_t current) {
  ProgressReport report;
  report.stage = ProgressStage::Search;
  report.sector = current;
  report.percentText = PercentText(run_.total, current - run_.firstSector);
  report.found = run_.found;
  const std::int64_t bytes = source_.ScanGeometry().BytesPerSector;
  searchPace_->Update((current - run_.firstSector) * bytes, RateMeter::Clock::now());
  report.bytesPerSecond = searchPace_->BytesPerSecond();
  report.secondsLeft = searchPace_->SecondsLeft();
  frontEnd_.progress.Report(report);
  frontEnd_.pump.ProcessPendingEvents();
}

void DeepScan::SearchPhase() {
  // Cancel counts from the moment the progress window shows, so that one
  // given as it appears (its button, or closing it) is not lost.
  run_.searchStop = 0;
  frontEnd_.progress.StageStarted(ProgressStage::Search);
  run_.hits.clear();
  run_.found = 0;
  run_.total = run_.lastSector - run_.firstSector + 1;
  searchPace_.emplace(run_.total * source_.ScanGeometry().BytesPerSector, RateMeter::Clock::now());
  std::int64_t current = run_.firstSector;
  frontEnd_.pump.ProcessPendingEvents();
  run_.quietCounter = 0;

  const std::uint32_t bytes = source_.ScanGeometry().BytesPerSector;
  const auto spc = static_cast<std::int64_t>(run_.spc);
  // A disk of partitions has one grid per partition: every sector is looked at.
  const bool filtered = run_.knownPhase != -1 && spc > 1 && partitions_.empty();
  std::vector<std::uint8_t> buffer(bytes);
  SearchReadAhead ahead(source_, run_.firstSector, run_.lastSector, filtered ? spc : 1, filtered ? run_.knownPhase : 0);

  while (run_.searchStop == 0 && current <= run_.lastSector) {
    // Only cluster starts can begin most files; a document's header is
    // looked for everywhere, since a layout chosen wrongly must not lose one.
    const bool clusterStart = !filtered || current % spc == run_.knownPhase;
    std::optional<FileTypeCode> classified = ahead.Code(current);
    if (!classified) {
      // Its block was not served whole: the sector on its own, through the
      // window and then directly, which learns the bad ones. Off the
      // cluster starts the window's answer is enough.
      const std::int64_t offset = current * bytes;
      if (source_.ReadSectors(buffer.data(), static_cast<std::int32_t>(bytes), offset) > 0 &&
          (!clusterStart || !source_.ReadDirect(buffer.data(), bytes, offset))) {
        ++current;  // unreadable: skipped without a trace
        continue;
      }
      classified = clusterStart ? ClassifySector(buffer.data(), bytes) : ClassifyDocumentHeader(buffer.data(), bytes);
    }
    const FileTypeCode code = *classified;
    if (code >= 1) {
      run_.hits.push_back({current, code});
      if (code == code::kCompoundDocument && (run_.typeMask & type_mask::kAllDocuments) != 0) ++run_.found;
      RefreshSearch(current);
    } else if (clusterStart && ++run_.quietCounter == 0) {
      RefreshSearch(current);
    }
    ++current;
  }
  // The jump to the next cluster start may step past the range's end.
  searchReached_ = std::min(current, run_.lastSector + 1);
  AddVolumesFound(ahead.BootSectors());
  run_.searchStop = 1;
  frontEnd_.progress.StageEnded(ProgressStage::Search);
}

void DeepScan::InferClusterPhase() {
  if (run_.knownPhase != -1 || run_.spc <= 1) {
    run_.chosenPhase = run_.knownPhase;
    return;
  }
  const auto spc = static_cast<std::int64_t>(run_.spc);
  std::vector<std::int64_t> votes(static_cast<std::size_t>(spc), 0);
  for (const SectorHit& hit : run_.hits) ++votes[static_cast<std::size_t>(hit.sector % spc)];
  // max_element keeps the first of equal counts: a tie goes to the lower residue.
  const auto best = std::max_element(votes.begin(), votes.end());
  if (*best < kMinimumPhaseVotes) {
    // Too few hits to see an alignment: look at every sector alike.
    run_.spc = 1;
    source_.ScanGeometry().SectorsPerCluster = 1;
    return;
  }
  run_.chosenPhase = static_cast<std::int32_t>(best - votes.begin());
  // A document's header is too strong a signature to drop for where it
  // lies: the carving gives it a grid of its own.
  std::erase_if(run_.hits, [&](const SectorHit& hit) {
    return hit.sector % spc != run_.chosenPhase && !IsDocumentHeaderCode(hit.code) && !OnPartitionGrid(hit);
  });
}

// Boot sectors the search met outside every volume known (a partition
// table lost or rewritten) start volumes of their own, each with its layout.
// One inside a known volume is its backup copy, or a file's bytes.
void DeepScan::AddVolumesFound(const std::vector<std::int64_t>& bootSectors) {
  for (const std::int64_t sector : bootSectors) {
    if (RegionHolding(regions_, sector) != nullptr) continue;
    if (const auto region = ProbeVolumeAt(source_, sector, source_.ScanGeometry().LastSector)) {
      regions_.push_back(*region);
      partitions_.push_back(*region);
    }
  }
}

bool DeepScan::OnPartitionGrid(const SectorHit& hit) const {
  const VolumeRegion* region = RegionHolding(partitions_, hit.sector);
  return region != nullptr && hit.sector % region->sectorsPerCluster == static_cast<std::uint32_t>(region->phase);
}

bool DeepScan::WaitWhilePaused() {
  if (run_.runState != kPaused) return run_.runState != kStopped;
  if (run_.measureAhead != nullptr) run_.measureAhead->Hold(true);
  while (run_.runState == kPaused) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    frontEnd_.pump.ProcessPendingEvents();
  }
  if (run_.measureAhead != nullptr) run_.measureAhead->Hold(false);
  return run_.runState != kStopped;
}

void DeepScan::ClaimDirectoryCluster(SectorHit& hit) {
  const auto spc = static_cast<std::int64_t>(run_.spc);
  const std::int64_t first = hit.sector;
  do {
    run_.claims.ClaimSector(hit.sector);
    ++hit.sector;
  } while ((hit.sector - run_.chosenPhase) % spc != 0);
  run_.memory.Carved(first, hit.sector);
}

void DeepScan::CarveOnOwnGrid(Carver carver, const SectorHit& hit) {
  const std::int64_t bytes = source_.ScanGeometry().BytesPerSector;
  const std::uint32_t sourceSpc = run_.spc;
  const std::int32_t grid = run_.chosenPhase;
  // Within a partition, its own layout.
  if (const VolumeRegion* region = RegionHolding(partitions_, hit.sector)) {
    run_.spc = region->sectorsPerCluster;
    run_.chosenPhase = region->phase;
  }
  const auto spc = static_cast<std::int64_t>(run_.spc);
  // A document off the grid starts a cluster all the same: its clusters
  // are counted from its header's sector while it is carved.
  if (spc > 1 && run_.chosenPhase >= 0 && hit.sector % spc != run_.chosenPhase) {
    run_.chosenPhase = static_cast<std::int32_t>(hit.sector % spc);
  }
  const std::size_t recordsBefore = run_.documents.size();
  const bool wasClaimed = run_.claims.IsSectorClaimed(hit.sector);
  carver(run_, hit.sector * bytes);
  run_.chosenPhase = grid;
  run_.spc = sourceSpc;
  if (IsDocumentHeaderCode(hit.code)) ListIfNotRebuilt(run_, hit, recordsBefore, wasClaimed);
}

void DeepScan::CarvePhase() {
  frontEnd_.progress.StageStarted(ProgressStage::Carve);
  run_.runState = stopRequested_ ? kStopped : kRunning;
  run_.rescued = 0;
  run_.notWritten = 0;
  run_.writeFailure.clear();
  run_.documents.clear();
  carvingCutShort_ = false;
  const std::int64_t bytes = source_.ScanGeometry().BytesPerSector;
  const auto n = static_cast<std::int64_t>(run_.hits.size());
  const auto documentHits = static_cast<std::int32_t>(std::count_if(
      run_.hits.begin(), run_.hits.end(), [](const SectorHit& hit) { return IsDocumentHeaderCode(hit.code); }));
  std::int32_t documentsDone = 0;
  const std::int64_t sectorsTotal = run_.lastSector - run_.firstSector + 1;
  std::int64_t sectorsWalked = 0;
  carvePace_.emplace(n, RateMeter::Clock::now());

  // The share done is of the documents the search found, where it found
  // any: they take the carving's time.
  auto refresh = [&](std::int64_t index, bool inFirstPass) {
    ProgressReport report;
    report.stage = ProgressStage::Carve;
    report.rescued = run_.rescued + (run_.writer != nullptr ? run_.writer->Rescued() : 0);
    report.progressPercent = documentHits > 0 && inFirstPass ? documentsDone * 100 / documentHits
                                                              : static_cast<std::int32_t>((n - index) * 100 / n);
    report.documentsFound = static_cast<std::int32_t>(run_.documents.size());
    report.documentsDone = documentsDone;
    report.documentsTotal = documentHits;
    if (inFirstPass) {
      const std::int64_t hitSector = run_.hits[static_cast<std::size_t>(index)].sector;
      report.sector = hitSector;
      sectorsWalked = std::max(sectorsWalked, std::min(sectorsTotal, run_.lastSector - hitSector + 1));
      carvePace_->Update(n - index, RateMeter::Clock::now());
      report.filesPerSecond = carvePace_->BytesPerSecond();
      report.secondsLeft = carvePace_->SecondsLeft();
    } else {
      sectorsWalked = sectorsTotal;
    }
    report.sectorsWalked = sectorsWalked;
    report.sectorsTotal = sectorsTotal;
    frontEnd_.progress.Report(report);
    frontEnd_.pump.ProcessPendingEvents();
  };

  // Pass A, highest sector first: a file found higher up is claimed before
  // any file that starts below it, which then steps over its sectors. The
  // bzip2 streams among the hits are measured ahead in the same order.
  MeasureAhead measureAhead(source_, MeasureAhead::StreamsAmong(run_.hits), run_.LastSourceSector());
  const std::unique_ptr<RescueRun, void (*)(RescueRun*)> detached(&run_, [](RescueRun* r) { r->measureAhead = nullptr; });
  run_.measureAhead = &measureAhead;
  frontEnd_.pump.ProcessPendingEvents();
  for (std::int64_t index = n - 1; index >= 0; --index) {
    if (!WaitWhilePaused()) {
      carvingCutShort_ = true;  // this hit and those below it are left
      break;
    }
    SectorHit& hit = run_.hits[static_cast<std::size_t>(index)];
    if (hit.code == code::kFatDirectory) {
      ClaimDirectoryCluster(hit);
    } else if (hit.code != code::kJpegQuantFirst) {
      if (Carver carver = CarverFor(hit.code)) CarveOnOwnGrid(carver, hit);
    }
    if (IsDocumentHeaderCode(hit.code)) ++documentsDone;
    refresh(index, true);
  }

  // Every document is kept by now: the counts shown from here on are the
  // documents written.
  if (run_.writer != nullptr) run_.writer->Finish(run_);

  // Pass B: JPEGs that start with a quantisation table get only the sectors
  // nobody else took.
  frontEnd_.pump.ProcessPendingEvents();
  for (std::int64_t index = n - 1; index >= 0; --index) {
    if (!WaitWhilePaused()) {
      carvingCutShort_ = carvingCutShort_ || std::any_of(run_.hits.begin(), run_.hits.begin() + index + 1,
                                                         [](const SectorHit& h) { return h.code == code::kJpegQuantFirst; });
      break;
    }
    const SectorHit& hit = run_.hits[static_cast<std::size_t>(index)];
    if (hit.code == code::kJpegQuantFirst) {
      if (Carver carver = CarverFor(hit.code)) carver(run_, hit.sector * bytes);
    }
    refresh(index, false);
  }
  frontEnd_.progress.StageEnded(ProgressStage::Carve);
}

}  // namespace vellumark
