#pragma once

#include <cstdint>

#include "rescue/rescue_run.h"

// Every carver, one per file in this folder, registered in carver_table.cpp.
namespace vellumark {

// Compound files (Word, Excel, PowerPoint): rebuilt and, for the kinds the
// TypeMask selects, written to the save folder.
void CompoundCarver(RescueRun& run, std::int64_t hitOffset);

}  // namespace vellumark
