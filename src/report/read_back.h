#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rescue/document_record.h"
#include "formats/document_properties.h"
#include "formats/verdict.h"

namespace vellumark {

// "whole", "damaged", "partial" or "unchecked", as the report writes them.
const char* VerdictName(Verdict verdict);

// One rescued compound file, read back: the carver's record, the structure
// verdict, its properties, the start of its text and a digest of its bytes.
struct DocumentInspection {
  DocumentRecord record;
  Verdict verdict = Verdict::Unchecked;
  std::string fault;
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
