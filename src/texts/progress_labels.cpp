#include "texts/progress_labels.h"

#include "common/rate_meter.h"
#include "texts/message_table.h"

namespace vellumark {
namespace {

std::string T(int slot) { return Text(slot); }

std::string OneDecimal(double value) {
  const auto tenths = static_cast<long long>(value * 10 + 0.5);
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

void ProgressLabels::Start(ProgressStage stage, const std::string& sourceName) {
  stage_ = stage;
  found_.clear();
  rate_.clear();
  source_ = T(slot::kSource);
  // The English caption has no blank of its own before the name.
  if (!source_.empty() && source_.back() != ' ') source_ += ' ';
  source_ += sourceName;
  switch (stage) {
    case ProgressStage::Search:
      caption_ = T(slot::kSearchingFile);
      lines_ = {T(slot::kSearchSector) + "0", T(slot::kSearchPercent) + "0", ""};
      break;
    case ProgressStage::Carve:
      caption_ = T(slot::kRescueFiles);
      lines_ = {T(slot::kSuccess), T(slot::kProgress), T(slot::kSectorsWalked)};
      break;
    case ProgressStage::Backup:
      caption_ = T(slot::kBackupToImage);
      lines_ = {T(slot::kCreatingImage), T(slot::kWaitAMoment), ""};
      break;
  }
}

void ProgressLabels::Apply(const ProgressReport& r) {
  if (r.bytesPerSecond || r.filesPerSecond) {
    rate_ = T(slot::kSpeed) + (r.filesPerSecond ? OneDecimal(*r.filesPerSecond) + T(slot::kFilesPerSecond)
                                                 : MegabytesPerSecondText(*r.bytesPerSecond) + " MB/s");
    if (r.secondsLeft) rate_ += "   " + T(slot::kTimeLeft) + DurationText(*r.secondsLeft);
  }
  if (r.documentsFound) found_ = T(slot::kDocumentsFound) + std::to_string(*r.documentsFound);
  switch (stage_) {
    case ProgressStage::Search:
      if (r.sector) lines_[0] = T(slot::kSearchSector) + std::to_string(*r.sector);
      if (r.percentText) lines_[1] = T(slot::kSearchPercent) + *r.percentText;
      if (r.found) lines_[2] = T(slot::kFound) + std::to_string(*r.found);
      break;
    case ProgressStage::Carve:
      if (r.rescued) lines_[0] = T(slot::kSuccess) + std::to_string(*r.rescued);
      if (r.progressPercent) {
        lines_[1] = T(slot::kProgress) + std::to_string(*r.progressPercent) + "%";
        if (r.documentsDone && r.documentsTotal && *r.documentsTotal > 0) {
          lines_[1] += "   " + T(slot::kDocumentsDone) + std::to_string(*r.documentsDone) + " / " +
                       std::to_string(*r.documentsTotal);
        }
      }
      if (r.sectorsWalked && r.sectorsTotal) {
        lines_[2] = T(slot::kSectorsWalked) + std::to_string(*r.sectorsWalked) + " / " + std::to_string(*r.sectorsTotal);
      }
      break;
    case ProgressStage::Backup:
      if (r.sector) lines_[0] = T(slot::kSector) + std::to_string(*r.sector);
      if (r.percentText) lines_[1] = T(slot::kPercent) + *r.percentText;
      // The error label stays empty until a sector has failed.
      if (r.errors) lines_[2] = *r.errors > 0 ? T(slot::kErrorCount) + std::to_string(*r.errors) : "";
      break;
  }
}

std::string ProgressLabels::Pace() const {
  if (found_.empty()) return rate_;
  return rate_.empty() ? found_ : found_ + "   " + rate_;
}

}  // namespace vellumark
