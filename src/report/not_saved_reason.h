#pragma once

#include <cstdint>
#include <string>

#include "rescue/document_record.h"

namespace vellumark {

// Why a document the rescue found has no file of its own.
enum class NotSavedReason : std::uint8_t {
  None,           // saved
  Damaged,        // its header was found, but no rebuild of it held together
  NotWritten,     // rebuilt, but the destination refused it (the system's reason is kept)
  NotChosen,      // rebuilt, but its kind is not one of those chosen
  InsideAnother,  // its header lies inside a document already rebuilt
};

NotSavedReason ReasonNotSaved(const DocumentRecord& record);

// The reason as the report gives it, in English like its other words, with
// its detail: the system's reason and the path, or the sector of the
// document that holds it. Empty for a saved document.
std::string NotSavedText(const DocumentRecord& record);

}  // namespace vellumark
