#pragma once

#include <cstddef>

#include "rescue/rescue_run.h"

namespace vellumark {

// After the carver of a hit has run: when the hit is the header of a
// document of a chosen family (a compound document, or an office package's
// first member) and the carving left no record of a rebuilt document
// starting there (records from recordsBefore on are this hit's), adds one
// that says so, so that every document the search found is listed.
// wasClaimed: whether the hit's sector belonged to another file before the
// carver ran.
void ListIfNotRebuilt(RescueRun& run, const SectorHit& hit, std::size_t recordsBefore, bool wasClaimed);

}  // namespace vellumark
