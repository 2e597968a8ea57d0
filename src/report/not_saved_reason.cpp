#include "report/not_saved_reason.h"

namespace vellumark {

NotSavedReason ReasonNotSaved(const DocumentRecord& record) {
  if (record.saved) return NotSavedReason::None;
  if (record.notRebuilt) {
    return record.insideDocumentAt >= 0 ? NotSavedReason::InsideAnother : NotSavedReason::Damaged;
  }
  if (!record.saveFailure.empty()) return NotSavedReason::NotWritten;
  return NotSavedReason::NotChosen;
}

std::string NotSavedText(const DocumentRecord& record) {
  switch (ReasonNotSaved(record)) {
    case NotSavedReason::None: break;
    case NotSavedReason::Damaged: return "damaged beyond rebuilding";
    case NotSavedReason::NotWritten: return "not written: " + record.saveFailure;
    case NotSavedReason::NotChosen: return "not of a chosen type";
    case NotSavedReason::InsideAnother:
      return "inside the document at sector " + std::to_string(record.insideDocumentAt);
  }
  return {};
}

}  // namespace vellumark
