#pragma once

#include <string>

#include "report/read_back.h"

// What the results window says of one document beyond its own properties,
// in the chosen language.
namespace vellumark {

// The slot of the plain sentence for a kind of fault; 0 for none.
int FaultSlot(FaultKind kind);

// What is wrong with a document, for a user: the plain sentence of its
// kind, then the checks' own detail (as the report gives it) in brackets,
// for whoever reports the fault on. Empty for a document with no fault kind.
std::string FaultWords(const DocumentInspection& document);

// The name and folder the file system's records give a document, as a path
// from the volume's root ("/Letters/2024/Offer.doc"); empty where no record
// matched it.
std::string OriginalPath(const DocumentRecord& record);

}  // namespace vellumark
