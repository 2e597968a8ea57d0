#pragma once

#include "access/sector_source.h"
#include "common/refusal.h"
#include "output/output_kind.h"

namespace vellumark {

// The message that tells the user of a refusal or failed open; 0 for None.
int SlotOf(Refusal refusal);
int SlotOf(OpenError error);
// What a named output's path is instead of a regular file; 0 for a path it may take.
int SlotOf(OutputKind kind);
// The text that names a kind of node refused as a source; 0 for None.
int SlotOf(RefusedKind kind);
// Why a disk service did not hand a disk over, and what to do; 0 for None.
int SlotOf(AccessRefusal refusal);
// The text that says why an open failed, when there is one beyond the
// system's error: the kind of node, else the disk service's answer.
int ReasonSlot(const OpenResult& result);

}  // namespace vellumark
