#pragma once

#include <string>
#include <vector>

#include "rescue/report/read_back.h"

namespace vellumark {

// The report's name beside the rescued files.
inline constexpr char kReportFileName[] = "rescue-report.csv";

// The report as CSV text: UTF-8 with a byte-order mark (so spreadsheets
// that guess an 8-bit code page read it right), a header row, one row per
// document.
std::string ReportCsv(const std::vector<DocumentInspection>& documents);

// Writes the report; false when it could not be written whole.
bool WriteRescueReport(const std::string& path, const std::vector<DocumentInspection>& documents);

}  // namespace vellumark
