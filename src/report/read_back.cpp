#include "report/read_back.h"

#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <fstream>

#include "formats/zip/office_package.h"
#include "formats/compound/compound_file.h"
#include "formats/word/word_text.h"
#include "report/sector_vouching.h"

namespace vellumark {
namespace {

// A rescued document is at most 100 MiB; anything longer is not one.
constexpr std::int64_t kLargestDocument = 104'857'600;

// OpenSSL's digest uses the processor's SHA instructions where it has
// them: several times faster than a portable one, and a rescue hashes every
// byte it writes.
std::string Sha256Hex(std::span<const std::uint8_t> bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

std::optional<std::vector<std::uint8_t>> ReadBack(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  if (!file) return std::nullopt;
  const std::streamoff size = file.tellg();
  if (size < 0 || size > kLargestDocument) return std::nullopt;
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  file.seekg(0);
  if (!file.read(reinterpret_cast<char*>(bytes.data()), size)) return std::nullopt;
  return bytes;
}

// Documents often open with empty paragraphs and spread their text over
// blank lines; a preview shows more of it without them.
std::string Tidy(const std::string& text) {
  std::string tidy;
  std::size_t breaks = 0;
  for (const char c : text) {
    if (c == '\n') {
      ++breaks;
      continue;
    }
    if (!tidy.empty() && breaks > 0) tidy.append(std::min<std::size_t>(breaks, 2), '\n');
    breaks = 0;
    if (tidy.empty() && (c == ' ' || c == '\t')) continue;
    tidy += c;
  }
  return tidy;
}

// The first characters of UTF-8 text, cut between characters.
std::string Utf8Prefix(std::span<const std::uint8_t> bytes, std::size_t characters) {
  std::size_t end = 0;
  for (std::size_t count = 0; end < bytes.size(); ++end) {
    if ((bytes[end] & 0xC0) != 0x80 && count++ == characters) break;
  }
  return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end));
}

std::string WordPreview(const CompoundFile& file) {
  const auto word = file.Stream("WordDocument");
  if (!word) return {};
  const auto table0 = file.Stream("0Table");
  const auto table1 = file.Stream("1Table");
  const std::vector<std::uint8_t> none;
  return Tidy(WordText(*word, table0 ? *table0 : none, table1 ? *table1 : none, kPreviewCharacters));
}

}  // namespace

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::Whole: return "whole";
    case Verdict::Damaged: return "damaged";
    case Verdict::Partial: return "partial";
    case Verdict::WholeStructure: return "whole structure";
    case Verdict::Unchecked: break;
  }
  return "unchecked";
}

namespace {

// An office archive is whole when every member inflates to its size and
// CRC and the directory matches them; its properties and text come from its
// XML parts.
void InspectOfficeArchive(std::span<const std::uint8_t> bytes, DocumentInspection& inspection) {
  const ZipArchiveCheck archive = CheckZipArchive(bytes);
  const bool whole = archive.fault.empty() && archive.length == static_cast<std::int64_t>(bytes.size());
  inspection.verdict = whole ? Verdict::Whole : Verdict::Damaged;
  inspection.fault = whole || !archive.fault.empty() ? archive.fault : "bytes after the end record";
  if (!whole) inspection.faultKind = archive.cutShort ? FaultKind::CutShort : FaultKind::Structure;
  const OfficeProperties properties = ReadOfficeProperties(bytes, archive.members);
  inspection.properties = {properties.title, properties.author, properties.lastSaved};
  inspection.preview = Tidy(OfficePreview(bytes, archive.members, kPreviewCharacters));
}

}  // namespace

namespace {

// The runs of source sectors a document's bytes came from, as far as they
// vouch for each other. A plain rebuild reads every unclaimed sector after
// the document's start, so its runs are split only by sectors other files
// the rescue recognised have claimed: the gaps are explained, and its bytes
// count as one run. A reassembly chose its clusters by checks, each run on
// its own.
std::vector<SectorRun> ProvenanceRuns(const DocumentRecord& record) {
  if (record.reassembled || record.runs.size() < 2) return record.runs;
  std::int64_t sectors = 0;
  for (const SectorRun& run : record.runs) sectors += run.count;
  return {{record.runs.front().first, sectors}};
}

}  // namespace

DocumentInspection InspectBytes(const DocumentRecord& record, std::span<const std::uint8_t> bytes) {
  DocumentInspection inspection;
  inspection.record = record;
  inspection.sha256 = Sha256Hex(bytes);
  if (IsOfficeArchive(record.kind)) {
    InspectOfficeArchive(bytes, inspection);
    return inspection;
  }
  const SectorVouching vouching = VouchSectors(bytes, ProvenanceRuns(record), record.bytesPerSector);
  const StructureVerdict& structure = vouching.verdict;
  inspection.verdict = structure.verdict;
  inspection.fault = structure.fault;
  if (structure.verdict == Verdict::Damaged) inspection.faultKind = FaultKind::Structure;
  inspection.unverifiedSectors = vouching.unverifiedSectors;
  inspection.unverified = vouching.unverified;
  if (!record.unreadableSectors.empty()) {
    // Zeros where the disk gave nothing: whatever the structure says, the
    // document is not what was saved.
    inspection.verdict = Verdict::Damaged;
    inspection.faultKind = FaultKind::Unreadable;
    inspection.fault = std::to_string(record.unreadableSectors.size()) + " unreadable sectors, written as zeros" +
                       (structure.fault.empty() ? "" : "; " + structure.fault);
  }
  // Properties and text are read even from a damaged file: they are what
  // tells the user which document it was.
  if (const auto file = CompoundFile::Open(bytes)) {
    inspection.properties = file->SummaryProperties();
    if (record.kind == DocumentKind::Word) inspection.preview = WordPreview(*file);
  }
  return inspection;
}

namespace {

// Text alone: nothing to check beyond what chose its characters, and the
// start of it is its preview.
DocumentInspection PartialTextInspection(const DocumentRecord& record) {
  DocumentInspection inspection;
  inspection.record = record;
  inspection.verdict = Verdict::Partial;
  inspection.fault = "text only, from the parts that checked: the document could not be rebuilt whole";
  // Text read from a package's body part as far as its data was sound: how
  // much of that part it is tells the user how much is missing.
  if (record.recoveredPercent >= 0) {
    inspection.fault = "text only, " + std::to_string(record.recoveredPercent) +
                       "% of the document's body part recovered: the document could not be rebuilt whole";
  }
  return inspection;
}

}  // namespace

DocumentInspection InspectWritten(const DocumentRecord& record, std::span<const std::uint8_t> bytes) {
  if (!record.partialText) return InspectBytes(record, bytes);
  DocumentInspection inspection = PartialTextInspection(record);
  inspection.sha256 = Sha256Hex(bytes);
  inspection.preview = Tidy(Utf8Prefix(bytes, kPreviewCharacters));
  return inspection;
}

DocumentInspection InspectDocument(const DocumentRecord& record) {
  if (record.saved) {
    if (const auto bytes = ReadBack(record.outputName)) return InspectWritten(record, *bytes);
    if (record.partialText) return PartialTextInspection(record);
  }
  DocumentInspection inspection;
  inspection.record = record;
  if (!record.saveFailure.empty()) inspection.fault = "not written: " + record.saveFailure;
  if (record.notRebuilt && record.insideDocumentAt < 0) {
    inspection.verdict = Verdict::Damaged;
    inspection.faultKind = FaultKind::NotRebuilt;
    inspection.fault = "its header was found, but no rebuild of it held together";
  }
  return inspection;
}

std::string LastSavedText(std::int64_t secondsSince1970) {
  const auto time = static_cast<std::time_t>(secondsSince1970);
  std::tm parts{};
  if (gmtime_r(&time, &parts) == nullptr) return {};
  char text[32];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return std::string(text, length);
}

}  // namespace vellumark
