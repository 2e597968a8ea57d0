#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rescue/document_record.h"
#include "formats/document_properties.h"
#include "formats/verdict.h"
#include "report/sector_vouching.h"

namespace vellumark {

// "whole", "whole structure", "damaged", "partial" or "unchecked", as the
// report writes them.
const char* VerdictName(Verdict verdict);

// What is wrong with a damaged document, in kinds a user is told of in
// plain words; the fault text keeps the checks' own detail for the report.
// Unreadable: sectors the drive would not give are zeros in it. CutShort:
// its bytes end before it does. Structure: something in it does not check.
// NotRebuilt: its start was found, but no rebuild of it held together.
enum class FaultKind : std::uint8_t { None, Unreadable, CutShort, Structure, NotRebuilt };

// One rescued compound file, read back: the carver's record, the structure
// verdict, its properties, the start of its text and a digest of its bytes.
struct DocumentInspection {
  DocumentRecord record;
  Verdict verdict = Verdict::Unchecked;
  std::string fault;
  FaultKind faultKind = FaultKind::None;  // set for a damaged document
  // For a document whose structure is whole, the sectors nothing vouched
  // for (see sector_vouching.h): what a user should look at before trusting it.
  std::size_t unverifiedSectors = 0;
  std::vector<ByteRange> unverified;
  DocumentProperties properties;
  std::string preview;  // the start of the body text, UTF-8
  std::string sha256;   // lower-case hex of the written file; empty when none was written
};

// How many characters of body text a preview keeps.
inline constexpr std::size_t kPreviewCharacters = 600;

// Inspects rebuilt bytes as the file the record describes.
DocumentInspection InspectBytes(const DocumentRecord& record, std::span<const std::uint8_t> bytes);

// Inspects the bytes written for the record, a document or the text of one,
// as InspectDocument would on reading them back.
DocumentInspection InspectWritten(const DocumentRecord& record, std::span<const std::uint8_t> bytes);

// Reads the file the record names back from the destination and inspects
// it; a document that was not written, or cannot be read back, stays
// unchecked.
DocumentInspection InspectDocument(const DocumentRecord& record);

// A last-saved time as "2009-03-12 14:05:00", in UTC.
std::string LastSavedText(std::int64_t secondsSince1970);

}  // namespace vellumark
