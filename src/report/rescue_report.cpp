#include "report/rescue_report.h"

#include <cerrno>
#include <filesystem>

#include "output/staged_file.h"
#include "report/not_saved_reason.h"

namespace vellumark {
namespace {

// A field as CSV: quoted when it holds a separator, a quote or a line break.
std::string Field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// Text taken from a rescued document, or naming a part of one (a fault
// starts with the stream it concerns, whose name the document chose).
// Spreadsheets run a cell that starts with = + - or @ as a formula, so such
// text is marked as plain text.
std::string DocumentText(const std::string& text) {
  if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos) {
    return Field("'" + text);
  }
  return Field(text);
}

std::string RunsText(const std::vector<SectorRun>& runs) {
  std::string text;
  for (const SectorRun& run : runs) {
    if (!text.empty()) text += ' ';
    text += std::to_string(run.first) + '-' + std::to_string(run.first + run.count - 1);
  }
  return text;
}

// How the document was rebuilt: from every unclaimed sector after its start
// (the plain way, left empty), or reassembled around foreign clusters, the
// sector runs then being the clusters it was given.
std::string RebuiltText(const DocumentRecord& record) { return record.reassembled ? "reassembled" : ""; }

}  // namespace

std::string ReportCsv(const std::vector<DocumentInspection>& documents) {
  std::string csv =
      "\xEF\xBB\xBF"
      "name,kind,verdict,fault,title,author,last saved (UTC),start sector,length,fragments,sector runs,sha256,"
      "rebuilt,reason not saved\r\n";
  for (const DocumentInspection& document : documents) {
    const DocumentRecord& record = document.record;
    const std::string name =
        record.outputName.empty() ? std::string() : std::filesystem::path(record.outputName).filename().string();
    const std::string lastSaved =
        document.properties.lastSaved ? LastSavedText(*document.properties.lastSaved) : std::string();
    csv += Field(name) + ',' + KindName(record.kind) + ',' + VerdictName(document.verdict) + ',' +
           DocumentText(document.fault) + ',' + DocumentText(document.properties.title) + ',' +
           DocumentText(document.properties.author) + ',' + lastSaved + ',' + std::to_string(record.startSector) +
           ',' + std::to_string(record.length) + ',' + std::to_string(record.runs.size()) + ',' +
           RunsText(record.runs) + ',' + document.sha256 + ',' + RebuiltText(record) + ',' +
           Field(NotSavedText(record)) + "\r\n";
  }
  return csv;
}

std::optional<std::string> WriteRescueReport(const std::string& path, const std::vector<DocumentInspection>& documents,
                                             ReportPlacement placement) {
  const std::string csv = ReportCsv(documents);
  auto file = StagedFile::Create(std::filesystem::path(path).parent_path().string());
  if (!file) return std::nullopt;
  std::optional<std::string> written;
  if (file->Append(csv.data(), csv.size())) {
    if (placement == ReportPlacement::KeepOthers) {
      written = file->PublishKeepingOthers(path);
    } else if (file->PublishReplacing(path)) {
      written = path;
    }
  }
  const int reason = errno;  // for the caller's message, past the clean-up
  file.reset();
  errno = reason;
  return written;
}

}  // namespace vellumark
