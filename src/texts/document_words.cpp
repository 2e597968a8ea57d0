#include "texts/document_words.h"

#include "common/message_slots.h"
#include "texts/message_table.h"

namespace vellumark {

int FaultSlot(FaultKind kind) {
  switch (kind) {
    case FaultKind::None: break;
    case FaultKind::Unreadable: return slot::kFaultUnreadable;
    case FaultKind::CutShort: return slot::kFaultCutShort;
    case FaultKind::Structure: return slot::kFaultStructure;
    case FaultKind::NotRebuilt: return slot::kFaultNotRebuilt;
  }
  return 0;
}

std::string FaultWords(const DocumentInspection& document) {
  const int slot = FaultSlot(document.faultKind);
  if (slot == 0) return {};
  std::string words = Text(slot);
  if (!document.fault.empty()) words += " (" + document.fault + ")";
  return words;
}

std::string OriginalPath(const DocumentRecord& record) {
  if (record.originalName.empty()) return {};
  std::string path = "/";
  if (!record.originalFolder.empty()) path += record.originalFolder + "/";
  return path + record.originalName;
}

}  // namespace vellumark
