#pragma once

#include <string>
#include <vector>

#include "rescue/deep_scan.h"
#include "report/read_back.h"

namespace vellumark {

// What a rescue came to, in one or two lines for the results window: the
// documents found, how many were saved and how many not (with the first
// reason), where a stopped run stopped, and where the report is. Texts read from documents that could not
// be rebuilt are not documents saved.
std::string RescueSummary(const ScanResult& result, const std::vector<DocumentInspection>& inspections);

// The counts alone: "Documents found: 9   saved: 5   not saved: 4". Every
// document found has a row of its own in the report, saved or not, so the
// two always add up.
std::string DocumentCounts(const std::vector<DocumentInspection>& inspections);

}  // namespace vellumark
