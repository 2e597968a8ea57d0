#include "rescue/carve_services.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "rescue/document_writer.h"


namespace vellumark {

namespace {
constexpr std::int64_t kProgressEverySectors = 200;
// An image buffer larger than this goes back to the system rather than to
// the next attempt.
constexpr std::size_t kLargestSpareImage = std::size_t{8} << 20;
// Sectors beyond the last one read past which the next is read alone.
constexpr std::int64_t kFarSectors = 128;
}  // namespace

CarveAttempt::CarveAttempt(RescueRun& run, std::int64_t hitOffset, std::uint32_t growthStep)
    : run_(run),
      hitOffset_(hitOffset),
      bytesPerSector_(std::max<std::int64_t>(run.BytesPerSector(), 1)),
      growthStep_(std::max<std::uint32_t>(growthStep, run.BytesPerSector())),
      position_(hitOffset),
      image_(std::move(run.spareImage)) {
  image_.clear();
}

CarveAttempt::~CarveAttempt() {
  if (image_.capacity() <= kLargestSpareImage) {
    image_.clear();
    run_.spareImage = std::move(image_);
  }
  if (!started_) return;
  if (!succeeded_) {
    for (std::int64_t sector : claims_.Sectors()) run_.claims.ReleaseSector(sector);
    if (positional_) {
      for (const std::uint64_t point : points_) run_.memory.AddDeadEnd(point);
    }
    return;
  }
  // A file with holes inside lets walks come to places behind its start
  // that were not free when they were found to be dead ends.
  if (leftHoles_) run_.memory.ForgetDeadEnds();
  ClaimSlack();
  // Everything from the hit to the position is claimed now, by this file or
  // by those it stepped over.
  run_.memory.Carved(hitOffset_ / bytesPerSector_, (position_ + bytesPerSector_ - 1) / bytesPerSector_);
}

void CarveAttempt::Claim(std::int64_t sector) {
  claims_.Add(sector);
  run_.claims.ClaimSector(sector);
}

bool CarveAttempt::Start() {
  const std::int64_t hitSector = hitOffset_ / bytesPerSector_;
  if (run_.claims.IsSectorClaimed(hitSector)) return false;
  started_ = true;
  Claim(hitSector);
  image_.reserve(static_cast<std::size_t>(growthStep_));
  image_.resize(static_cast<std::size_t>(bytesPerSector_));
  imageSectors_.push_back(hitSector);
  if (run_.source.ReadSectors(image_.data(), static_cast<std::int32_t>(bytesPerSector_), hitOffset_) > 0) return false;
  position_ = hitOffset_ + bytesPerSector_;
  lastRead_ = hitSector;
  loaded_ = bytesPerSector_;
  return true;
}

bool CarveAttempt::StepOverClaimed() {
  const std::int64_t last = run_.LastSourceSector();
  const std::int64_t from = position_ / bytesPerSector_;
  std::int64_t sector = from;
  // A claimed sector belongs to another file: this one continues after it.
  // Runs met before are passed in one step.
  while (sector <= last && run_.claims.IsSectorClaimed(sector)) {
    sector = std::max(sector + 1, run_.memory.PastClaimed(sector));
    ++run_.carveSteps;
  }
  if (sector > from) {
    run_.memory.ClaimedRun(from, sector);
    position_ += (sector - from) * bytesPerSector_;
  }
  return sector <= last;
}

bool CarveAttempt::ClaimNextFree() {
  if (!StepOverClaimed()) return false;
  ++run_.carveSteps;
  Claim(position_ / bytesPerSector_);
  return true;
}

std::int64_t CarveAttempt::NextFreeSector() {
  StepOverClaimed();
  return position_ / bytesPerSector_;
}

void CarveAttempt::PassUnclaimed(std::int64_t lastSector) {
  const std::int64_t first = NextFreeSector();
  if (lastSector < first) return;
  passed_.emplace_back(first, lastSector);
  position_ += (lastSector + 1 - first) * bytesPerSector_;
}

void CarveAttempt::ClaimPassed() {
  for (const auto& [first, last] : passed_) {
    for (std::int64_t sector = first; sector <= last; ++sector) run_.claims.ClaimSector(sector);
  }
  passed_.clear();
}

bool CarveAttempt::CanReach(std::int64_t bytes) const {
  const std::int64_t needed = (bytes - loaded_ + bytesPerSector_ - 1) / bytesPerSector_;
  return needed <= 0 || needed <= run_.memory.FreeAtMost(position_ / bytesPerSector_, run_.LastSourceSector());
}

bool CarveAttempt::LoadUpTo(std::int64_t bytes) {
  if (!CanReach(bytes)) {
    // Loading would only read up to the end of the source and then fail.
    position_ = (run_.LastSourceSector() + 1) * bytesPerSector_;
    return false;
  }
  if (bytes - loaded_ > growthStep_ && bytes > static_cast<std::int64_t>(image_.capacity())) {
    // A long load in one go (a compound file's far FAT sector): room for all
    // of it at once, rather than moving the image again at every step.
    image_.reserve(static_cast<std::size_t>((bytes + bytesPerSector_ - 1) / bytesPerSector_ * bytesPerSector_));
  }
  bool wholeRuns = true;
  while (loaded_ < bytes) {
    if (wholeRuns && LoadRun(bytes, wholeRuns)) continue;
    if (!ClaimNextFree()) return false;
    if (static_cast<std::size_t>(loaded_ + bytesPerSector_) > image_.capacity()) {
      image_.reserve(static_cast<std::size_t>(loaded_ + growthStep_));
    }
    image_.resize(static_cast<std::size_t>(loaded_ + bytesPerSector_));
    std::uint8_t* sector = image_.data() + loaded_;
    // A sector far from the last one read (a structure's tail, a directory
    // the walk jumped to) is read alone: a window read there would bring in
    // 64 KiB for one sector.
    const std::int64_t number = position_ / bytesPerSector_;
    const bool far = lastRead_ >= 0 && (number < lastRead_ || number - lastRead_ > kFarSectors);
    lastRead_ = number;
    const bool failed = far ? !run_.source.ReadDirect(sector, static_cast<std::uint32_t>(bytesPerSector_), position_)
                            : run_.source.ReadSectors(sector, static_cast<std::int32_t>(bytesPerSector_), position_) > 0;
    if (failed) {
      // A failing disk loses sectors, not files: the walk goes on over
      // zeros. A source that has ended is another matter.
      if (!run_.source.IsUnreadable(position_)) return false;
      std::fill(sector, sector + bytesPerSector_, std::uint8_t{0});
      unreadable_.push_back(position_ / bytesPerSector_);
    }
    imageSectors_.push_back(position_ / bytesPerSector_);
    position_ += bytesPerSector_;
    loaded_ += bytesPerSector_;
    ++loadedSinceClaimAhead_;
    ProgressEvery200Sectors(loaded_);
  }
  return true;
}

bool CarveAttempt::LoadRun(std::int64_t bytes, bool& wholeRuns) {
  // The free sectors from the next one on that the load still needs, as
  // far as the next claimed one: read in one go, then claimed in order as
  // the sector-by-sector load would have claimed them.
  static constexpr std::int64_t kLongestRun = 2048;
  if (!StepOverClaimed()) return false;
  const std::int64_t first = position_ / bytesPerSector_;
  const std::int64_t wanted = std::min((bytes - loaded_ + bytesPerSector_ - 1) / bytesPerSector_, kLongestRun);
  std::int64_t count = 1;
  while (count < wanted && first + count <= run_.LastSourceSector() && !run_.claims.IsSectorClaimed(first + count)) {
    ++count;
  }
  if (count < 2) return false;
  if (static_cast<std::size_t>(loaded_ + count * bytesPerSector_) > image_.capacity()) {
    image_.reserve(static_cast<std::size_t>(loaded_ + std::max<std::int64_t>(growthStep_, count * bytesPerSector_)));
  }
  image_.resize(static_cast<std::size_t>(loaded_ + count * bytesPerSector_));
  if (run_.source.ReadSectors(image_.data() + loaded_, static_cast<std::int32_t>(count * bytesPerSector_), position_) > 0) {
    // A sector of the run did not read: the rest of this load goes a sector
    // at a time, which finds it and goes on over zeros where the disk
    // failed.
    image_.resize(static_cast<std::size_t>(loaded_));
    wholeRuns = false;
    return false;
  }
  lastRead_ = first + count - 1;
  for (std::int64_t k = 0; k < count; ++k) {
    ++run_.carveSteps;
    Claim(first + k);
    imageSectors_.push_back(first + k);
    position_ += bytesPerSector_;
    loaded_ += bytesPerSector_;
    ++loadedSinceClaimAhead_;
    ProgressEvery200Sectors(loaded_);
  }
  return true;
}

bool CarveAttempt::ClaimAhead() {
  loadedSinceClaimAhead_ = 0;
  if (!ClaimNextFree()) return false;
  position_ += bytesPerSector_;
  return true;
}

void CarveAttempt::GiveBackFrom(std::int64_t end) {
  // Loads append whole sectors to the image, so its last sectors are the
  // last ones claimed, as long as nothing was claimed unread since.
  std::int64_t count = std::min((loaded_ - end) / bytesPerSector_, loadedSinceClaimAhead_);
  for (; count > 0; --count) {
    const std::int64_t sector = claims_.Sectors().back();
    claims_.RemoveLast();
    run_.claims.ReleaseSector(sector);
    if (!unreadable_.empty() && unreadable_.back() == sector) unreadable_.pop_back();
    --loadedSinceClaimAhead_;
    loaded_ -= bytesPerSector_;
    if (!imageSectors_.empty()) imageSectors_.pop_back();
    // The file's last cluster is measured from here, as if the walk had
    // never gone further.
    position_ = sector * bytesPerSector_;
  }
  if (loaded_ < 0) loaded_ = 0;
  image_.resize(static_cast<std::size_t>(loaded_));
}

void CarveAttempt::ClaimDeclaredLength(std::uint64_t length) {
  auto covered = static_cast<std::uint64_t>(bytesPerSector_);
  while (covered < length) {
    if (!ClaimAhead()) return;
    covered += static_cast<std::uint64_t>(bytesPerSector_);
    ProgressEvery200Sectors(static_cast<std::int64_t>(covered));
  }
}

void CarveAttempt::GiveBack(std::int64_t sectors) {
  for (; sectors > 0 && claims_.Sectors().size() > 1; --sectors) {
    run_.claims.ReleaseSector(claims_.Sectors().back());
    claims_.RemoveLast();
    // The image ends with the sectors loaded last; sectors claimed unread
    // before them are not in it.
    if (loaded_ >= bytesPerSector_) {
      loaded_ -= bytesPerSector_;
      if (!imageSectors_.empty()) imageSectors_.pop_back();
    }
  }
  image_.resize(static_cast<std::size_t>(loaded_));
  if (!claims_.Empty()) position_ = (claims_.Sectors().back() + 1) * bytesPerSector_;
}

void CarveAttempt::ProgressEvery200Sectors(std::int64_t count) {
  if (count % (kProgressEverySectors * bytesPerSector_) == 0) ReportProgress();
}

void CarveAttempt::DropImageFront(std::int64_t bytes) {
  if (bytes <= 0) return;
  bytes = std::min(bytes, loaded_);
  image_.erase(image_.begin(), image_.begin() + bytes);
  loaded_ -= bytes;
  // Callers drop whole sectors.
  const auto sectors = std::min(static_cast<std::size_t>(bytes / bytesPerSector_), imageSectors_.size());
  imageSectors_.erase(imageSectors_.begin(), imageSectors_.begin() + static_cast<std::ptrdiff_t>(sectors));
}

std::int64_t CarveAttempt::SourceOffsetOf(std::int64_t imageOffset) const {
  if (imageOffset < 0 || imageOffset >= loaded_) return -1;
  const auto index = static_cast<std::size_t>(imageOffset / bytesPerSector_);
  if (index >= imageSectors_.size()) return -1;
  return imageSectors_[index] * bytesPerSector_ + imageOffset % bytesPerSector_;
}

bool CarveAttempt::Reached(CarveMemory::Chain chain, std::int64_t imageOffset, int bit) {
  const std::int64_t at = SourceOffsetOf(imageOffset);
  if (at < 0) return true;  // not known: the walk goes on as it would have
  const std::uint64_t point = CarveMemory::ChainPoint(chain, at, bit);
  if (run_.memory.IsDeadEnd(point)) return false;
  points_.push_back(point);
  return true;
}

bool CarveAttempt::PassFreeSectors(std::int64_t count) {
  if (count <= 0) return true;
  const std::int64_t first = NextFreeSector();
  std::int64_t looked = 0;  // words and chunks: the work, far less than a step per sector
  const std::int64_t last = run_.claims.NthFree(first, count, &looked);
  run_.carveSteps += looked;
  if (first > run_.LastSourceSector() || last > run_.LastSourceSector()) {
    position_ = (run_.LastSourceSector() + 1) * bytesPerSector_;
    return false;
  }
  passed_.emplace_back(first, last);
  position_ = (last + 1) * bytesPerSector_;
  loadedSinceClaimAhead_ = 0;
  return true;
}

std::int64_t CarveAttempt::PassStructure(std::int64_t start, std::int64_t size) {
  const std::int64_t inImage = loaded_ - start;
  if (size > inImage) {
    // A structure that runs past the end of the source fails the walk; it
    // is not claimed sector by sector first.
    if (!CanReach(start + size)) return -1;
    // Pass unread while the next sector lies wholly inside the structure
    // and at least two sectors of it remain.
    if (size >= 2 * bytesPerSector_ && size >= inImage + bytesPerSector_) {
      const std::int64_t middle = std::min((size - 2 * bytesPerSector_) / bytesPerSector_,
                                           (size - inImage - bytesPerSector_) / bytesPerSector_) + 1;
      if (!PassFreeSectors(middle)) return -1;
      size -= middle * bytesPerSector_;
    }
    if (!LoadUpTo(start + size)) return -1;
  }
  return start + size;
}

std::int64_t CarveAttempt::CutBack(std::int64_t offset) {
  static constexpr std::int64_t kKeptSectors = 60;
  if (offset <= kKeptSectors * bytesPerSector_) return offset;
  const std::int64_t passed = offset / bytesPerSector_ * bytesPerSector_;
  DropImageFront(passed);
  ReportProgress();
  return offset - passed;
}

void CarveAttempt::ReportProgress() {
  ProgressReport report;
  report.stage = ProgressStage::Carve;
  report.sector = position_ / bytesPerSector_;
  run_.frontEnd.progress.Report(report);
  run_.frontEnd.pump.ProcessPendingEvents();
}

void CarveAttempt::CutImage(std::int64_t size) {
  if (size < 0 || size >= static_cast<std::int64_t>(image_.size())) return;
  image_.resize(static_cast<std::size_t>(size));
  image_.shrink_to_fit();
}

void CarveAttempt::ExcludeLoadedSectors(std::int64_t first, std::int64_t count) {
  std::vector<std::int64_t> sectors = claims_.Sectors();
  if (first < 0 || count <= 0 || first + count > static_cast<std::int64_t>(sectors.size()) ||
      (first + count) * bytesPerSector_ > loaded_) {
    return;
  }
  const auto begin = sectors.begin() + first;
  for (auto it = begin; it != begin + count; ++it) run_.claims.ReleaseSector(*it);
  sectors.erase(begin, begin + count);
  claims_.Clear();
  for (const std::int64_t sector : sectors) claims_.Add(sector);
  image_.erase(image_.begin() + first * bytesPerSector_, image_.begin() + (first + count) * bytesPerSector_);
  loaded_ -= count * bytesPerSector_;
  if (first + count <= static_cast<std::int64_t>(imageSectors_.size())) {
    imageSectors_.erase(imageSectors_.begin() + first, imageSectors_.begin() + first + count);
  }
  leftHoles_ = true;
}

void CarveAttempt::KeepOnly(std::int64_t bytes) {
  const std::vector<std::int64_t>& sectors = claims_.Sectors();
  const auto keep = static_cast<std::size_t>((bytes + bytesPerSector_ - 1) / bytesPerSector_);
  if (keep == 0 || keep >= sectors.size() || bytes > loaded_) return;
  std::vector<std::int64_t> kept(sectors.begin(), sectors.begin() + static_cast<std::ptrdiff_t>(keep));
  for (std::size_t i = keep; i < sectors.size(); ++i) run_.claims.ReleaseSector(sectors[i]);
  claims_.Clear();
  for (const std::int64_t sector : kept) claims_.Add(sector);
  position_ = (kept.back() + 1) * bytesPerSector_;
  loaded_ = static_cast<std::int64_t>(keep) * bytesPerSector_;
  image_.resize(static_cast<std::size_t>(loaded_));
  if (imageSectors_.size() > keep) imageSectors_.resize(keep);
}

void CarveAttempt::ClaimSlack() {
  const std::int64_t spc = run_.spc;
  if (spc <= 1) return;
  // Files start on cluster boundaries, so the rest of the last cluster can
  // hold nothing else. Numbers past the end of the source have no bit.
  while ((position_ / bytesPerSector_ - run_.chosenPhase) % spc > 0) {
    run_.claims.ClaimSector(position_ / bytesPerSector_);
    position_ += bytesPerSector_;
  }
}

namespace {
constexpr std::uint64_t kWindowKeptSectors = 64;
}  // namespace

bool ForwardWindow::SkipTo(std::uint64_t offset) {
  const auto sector = static_cast<std::uint64_t>(attempt_.Run().BytesPerSector());
  std::uint64_t covered = Covered();
  if (offset < covered + sector) return true;
  // Passed without a step per sector; such a pass cannot be given back
  // (see ClaimTo).
  const std::uint64_t skipped = (offset - covered) / sector;
  if (!attempt_.PassFreeSectors(static_cast<std::int64_t>(skipped))) return false;
  covered += skipped * sector;
  if (skipped >= 200) attempt_.ReportProgress();
  // The claimed sectors are not in the image, which starts again after them.
  attempt_.DropImageFront(attempt_.Loaded());
  start_ = covered;
  return true;
}

std::optional<ByteView> ForwardWindow::At(std::uint64_t offset, std::uint64_t length) {
  if (offset < start_ || length > kLongestRequest || offset > (std::uint64_t{1} << 62)) return std::nullopt;
  if (!SkipTo(offset)) return std::nullopt;
  const auto sector = static_cast<std::uint64_t>(attempt_.Run().BytesPerSector());
  if (offset - start_ >= kWindowKeptSectors * sector) {
    const std::uint64_t passed = (offset - start_) / sector * sector;
    attempt_.DropImageFront(static_cast<std::int64_t>(passed));
    start_ += passed;
    attempt_.ReportProgress();
  }
  if (!attempt_.LoadUpTo(static_cast<std::int64_t>(offset + length - start_))) return std::nullopt;
  return attempt_.View().Bytes(offset - start_, length);
}

bool ForwardWindow::ClaimTo(std::uint64_t end) {
  const auto sector = static_cast<std::uint64_t>(attempt_.Run().BytesPerSector());
  // The file's sectors end at end rounded up; SkipTo claims every whole
  // sector before its offset.
  const std::uint64_t last = std::max<std::uint64_t>((end + sector - 1) / sector * sector, sector);
  if (last >= Covered()) return SkipTo(last);
  // An end behind the image lies in sectors passed or claimed unread; only
  // claims can be given back.
  if (last < start_ && attempt_.HasPassed()) return false;
  attempt_.GiveBack(static_cast<std::int64_t>((Covered() - last) / sector));
  start_ = last - static_cast<std::uint64_t>(attempt_.Loaded());
  return true;
}

namespace {

// The record is the next of run.documents: the carvers keep it right after
// saving it.
bool Save(RescueRun& run, DocumentRecord& record, const std::uint8_t* data, std::size_t size, bool counts) {
  if (run.writer != nullptr) {
    run.writer->Write(record, run.documents.size(), counts, {data, size});
    return false;  // counted when the writer finishes
  }
  const int attempts = run.writeFailure.empty() ? kSaveAttempts : 1;
  const auto saved = SaveStreamWithRetry(data, size, record.outputName, std::chrono::milliseconds(100), attempts);
  record.saved = saved.has_value();
  if (saved) {
    record.outputName = *saved;
    if (run.savedDocuments != nullptr) run.savedDocuments->Add(record, {data, size});
    return true;
  }
  record.saveFailure = std::string(std::strerror(errno)) + ": " + record.outputName;
  ++run.notWritten;
  if (run.writeFailure.empty()) run.writeFailure = record.saveFailure;
  return false;
}

}  // namespace

void SaveDocument(RescueRun& run, DocumentRecord& record, const std::uint8_t* data, std::size_t size) {
  if (Save(run, record, data, size, true)) ++run.rescued;
}

void SaveText(RescueRun& run, DocumentRecord& record, const std::string& text) {
  Save(run, record, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), false);
}

}  // namespace vellumark
