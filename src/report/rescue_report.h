#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "report/read_back.h"

namespace vellumark {

// The report's name beside the rescued files.
inline constexpr char kReportFileName[] = "rescue-report.csv";

// The report as CSV text: UTF-8 with a byte-order mark (so spreadsheets
// that guess an 8-bit code page read it right), a header row, one row per
// document.
std::string ReportCsv(const std::vector<DocumentInspection>& documents);

// How the report takes its name.
enum class ReportPlacement : std::uint8_t {
  KeepOthers,  // beside the rescued files: an earlier run's report is kept
  Replace,     // a path the user named: whatever has that name is replaced
};

// Writes the report whole, then names it; returns where it is (with
// KeepOthers perhaps a numbered name), none (errno set) when it could not be
// written.
std::optional<std::string> WriteRescueReport(const std::string& path, const std::vector<DocumentInspection>& documents,
                                             ReportPlacement placement = ReportPlacement::KeepOthers);

}  // namespace vellumark
