#pragma once

#include "access/platform_source.h"
#include "common/refusal.h"

namespace vellumark {

// The message that tells the user of a refusal or failed open; 0 for None.
int SlotOf(Refusal refusal);
int SlotOf(OpenError error);
// The text that names a kind of node refused as a source; 0 for None.
int SlotOf(RefusedKind kind);

}  // namespace vellumark
