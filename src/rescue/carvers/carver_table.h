#pragma once

#include <cstdint>

#include "rescue/file_type_code.h"
#include "rescue/rescue_run.h"

namespace vellumark {

// A carver gets the run (save folder, claims, counters) and the byte offset
// of its hit sector. It reports nothing: what it found is in the claims, the
// saved files and the rescued counter.
using Carver = void (*)(RescueRun& run, std::int64_t hitOffset);

// The carver of a FileTypeCode, or nullptr for codes that are recognised but
// not carved (and for codes whose carver is not part of this build).
Carver CarverFor(FileTypeCode code);

}  // namespace vellumark
