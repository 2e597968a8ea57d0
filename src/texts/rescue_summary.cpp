#include "texts/rescue_summary.h"

#include <algorithm>

#include "texts/message_table.h"

namespace vellumark {

std::string DocumentCounts(const std::vector<DocumentInspection>& inspections) {
  const auto found = std::count_if(inspections.begin(), inspections.end(),
                                   [](const DocumentInspection& d) { return !d.record.partialText; });
  const auto saved = std::count_if(inspections.begin(), inspections.end(), [](const DocumentInspection& d) {
    return d.record.saved && !d.record.partialText;
  });
  std::string text = std::string(Text(slot::kDocumentsFound)) + std::to_string(found) + "   " +
                     Text(slot::kSavedCount) + std::to_string(saved) + "   " + Text(slot::kNotSavedCount) +
                     std::to_string(found - saved);
  return text;
}

std::string RescueSummary(const ScanResult& result, const std::vector<DocumentInspection>& inspections) {
  std::string text = DocumentCounts(inspections);
  if (result.notWritten > 0 && !result.writeFailure.empty()) text += " (" + result.writeFailure + ")";
  if (result.stopped) {
    const Message stop = StopMessage(*result.stopped);
    text += "\n" + std::string(Text(stop.textSlot)) + stop.suffix;
  }
  if (result.reportWritten) text += "\n" + std::string(Text(slot::kReportAt)) + result.reportPath;
  return text;
}

}  // namespace vellumark
