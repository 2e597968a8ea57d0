#include "report/record_rebuild.h"

#include <unistd.h>

#include <filesystem>

#include "output/output_names.h"
#include "output/staged_file.h"

namespace vellumark {

namespace {

// The largest document rebuilt from a record, as the carvers' limit.
constexpr std::uint64_t kLargestDocument = 100ULL << 20;

struct KindOfName {
  const char* extension;  // as the written file gets it
  DocumentKind kind;
  TypeMask type;
};
constexpr KindOfName kKinds[] = {
    {".DOC", DocumentKind::Word, type_mask::kWord},          {".XLS", DocumentKind::Excel, type_mask::kExcel},
    {".PPT", DocumentKind::PowerPoint, type_mask::kPowerPoint}, {".DOCX", DocumentKind::WordDocx, type_mask::kDocx},
    {".XLSX", DocumentKind::ExcelXlsx, type_mask::kXlsx},    {".PPTX", DocumentKind::PowerPointPptx, type_mask::kPptx},
    {".ODT", DocumentKind::OdfText, type_mask::kOdt},
};

// The kind a file's name says it is, where it is one of the documents.
const KindOfName* KindNamed(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos) return nullptr;
  std::string extension = name.substr(dot);
  for (char& c : extension) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  for (const KindOfName& kind : kKinds) {
    if (extension == kind.extension) return &kind;
  }
  return nullptr;
}

const char* Extension(DocumentKind kind) {
  for (const KindOfName& named : kKinds) {
    if (named.kind == kind) return named.extension;
  }
  return nullptr;
}

std::optional<std::vector<std::uint8_t>> BytesOf(SectorSource& source, const OriginalFile& file) {
  if (file.size == 0 || file.size > kLargestDocument) return std::nullopt;
  const std::uint64_t sectorBytes = source.ScanGeometry().BytesPerSector;
  std::vector<std::uint8_t> bytes;
  for (const SectorRun& run : file.runs) {
    if (bytes.size() >= file.size) break;
    const std::uint64_t want = std::min<std::uint64_t>(static_cast<std::uint64_t>(run.count) * sectorBytes,
                                                       (file.size - bytes.size() + sectorBytes - 1) / sectorBytes * sectorBytes);
    const auto read = ReadSourceBytes(source, run.first, want);
    if (!read) return std::nullopt;
    bytes.insert(bytes.end(), read->begin(), read->end());
  }
  if (bytes.size() < file.size) return std::nullopt;
  bytes.resize(file.size);
  return bytes;
}

// The files whose records list every sector and begin at the document's
// start: a deleted file's record outlives its clusters, so several may.
std::vector<const OriginalFile*> FilesWithRuns(const DocumentRecord& record, const std::vector<OriginalFile>& files) {
  std::vector<const OriginalFile*> found;
  for (const OriginalFile& file : files) {
    if (file.firstSector == record.startSector && !file.runs.empty()) found.push_back(&file);
  }
  return found;
}

// The document as the file's record lists it, with the record it is
// written under; none unless the checks call it whole (or, with
// structureWillDo, whole in its structure).
std::optional<std::pair<DocumentRecord, std::vector<std::uint8_t>>> FromFile(SectorSource& source,
                                                                             const DocumentRecord& record,
                                                                             const OriginalFile& file, TypeMask types,
                                                                             const std::string& saveFolder,
                                                                             bool structureWillDo) {
  // A header no rebuild held together has no kind yet: the file's name
  // tells which to check it as, among the kinds chosen.
  const char* extension = Extension(record.kind);
  DocumentKind kind = record.kind;
  if (record.kind == DocumentKind::Other) {
    const KindOfName* named = KindNamed(file.name);
    if (named == nullptr || (named->type & types) == 0) return std::nullopt;
    extension = named->extension;
    kind = named->kind;
  }
  if (extension == nullptr) return std::nullopt;
  auto bytes = BytesOf(source, file);
  if (!bytes) return std::nullopt;
  DocumentRecord candidate = record;
  candidate.kind = kind;
  candidate.length = static_cast<std::int64_t>(bytes->size());
  candidate.runs = file.runs;
  // Guessed runs vouch for nothing across their gaps: as a reassembly's,
  // a piece counts as the document's only where its bookkeeping pins it.
  candidate.reassembled = file.runsGuessed;
  candidate.partialText = false;
  candidate.notRebuilt = false;
  candidate.insideDocumentAt = -1;
  candidate.saveFailure.clear();
  candidate.unreadableSectors.clear();
  // The carving's text, or nothing, gives way to the document itself.
  if (record.partialText || record.notRebuilt || record.outputName.empty()) {
    const std::int64_t sectorBytes = source.ScanGeometry().BytesPerSector;
    candidate.outputName = OutputName(saveFolder, record.startSector * sectorBytes, extension);
  }
  const Verdict verdict = InspectBytes(candidate, *bytes).verdict;
  if (verdict != Verdict::Whole && !(structureWillDo && verdict == Verdict::WholeStructure)) return std::nullopt;
  return std::make_pair(std::move(candidate), std::move(*bytes));
}

}  // namespace

std::optional<DocumentKind> KindOfFileName(const std::string& name) {
  if (const KindOfName* named = KindNamed(name)) return named->kind;
  return std::nullopt;
}

int RebuildFromRecords(SectorSource& source, std::vector<DocumentInspection>& report,
                       const std::vector<OriginalFile>& files, const std::string& saveFolder, TypeMask types) {
  int rebuilt = 0;
  for (DocumentInspection& inspection : report) {
    const DocumentRecord& record = inspection.record;
    if (record.outputName.empty() && !record.notRebuilt) continue;  // a kind not chosen
    std::optional<std::pair<DocumentRecord, std::vector<std::uint8_t>>> found;
    // A rebuild whole only in its structure stands in only for one that
    // was not even that.
    const bool structureWillDo = inspection.verdict != Verdict::Whole && inspection.verdict != Verdict::WholeStructure;
    for (const OriginalFile* file : FilesWithRuns(record, files)) {
      if (inspection.verdict == Verdict::Whole && static_cast<std::uint64_t>(record.length) == file->size) break;
      if ((found = FromFile(source, record, *file, types, saveFolder, structureWillDo))) break;
    }
    if (!found) continue;
    auto& [candidate, bytes] = *found;
    auto staged = StagedFile::Create(saveFolder);
    if (!staged || !staged->Append(bytes.data(), bytes.size())) continue;
    std::optional<std::string> written;
    if (candidate.outputName == record.outputName && record.saved) {
      if (staged->PublishReplacing(candidate.outputName)) written = candidate.outputName;
    } else {
      written = staged->PublishKeepingOthers(candidate.outputName);
    }
    if (!written) continue;
    if (record.partialText && !record.outputName.empty() && *written != record.outputName) ::unlink(record.outputName.c_str());
    if (!record.saved) ++rebuilt;
    candidate.outputName = *written;
    candidate.saved = true;
    inspection = InspectWritten(candidate, bytes);
  }
  return rebuilt;
}

}  // namespace vellumark
