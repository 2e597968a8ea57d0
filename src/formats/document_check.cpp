#include "formats/document_check.h"

#include <string>
#include <vector>

#include "formats/compound/compound_file.h"
#include "formats/compound/structure_check.h"
#include "formats/word/word_content_check.h"
#include "formats/compound/property_stream_check.h"

namespace vellumark {

namespace {

// withPropertyStreams: whether CompObj and the property sets are held to
// their layout too. The carving does not ask it: a document whose own
// summary is broken (as some writers leave it) is still rebuilt as it is,
// and its verdict says what is broken.
StructureCoverage Check(std::span<const std::uint8_t> file, bool withPropertyStreams) {
  StructureCoverage coverage = CheckStructureCoverage(file);
  if (coverage.verdict.verdict != Verdict::Whole) return coverage;
  const auto damaged = [](std::string fault) { return StructureCoverage{{Verdict::Damaged, std::move(fault)}, {}}; };
  // The structure check is lenient where writers differ; a file it passes
  // that the reader of streams still refuses cannot have its content
  // checked, nor be read by the report, so it is not called whole.
  const auto compound = CompoundFile::Open(file);
  if (!compound) return damaged("compound file: its streams cannot be read");
  // Streams every Office program writes, whose layout shows a sector of
  // something else inside them.
  const auto compObj = withPropertyStreams ? compound->Stream("\001CompObj") : std::nullopt;
  if (compObj) {
    if (std::string fault = CompObjFault(*compObj); !fault.empty()) return damaged(std::move(fault));
  }
  for (const char* name : {"SummaryInformation", "DocumentSummaryInformation"}) {
    if (!withPropertyStreams) break;
    if (const auto set = compound->Stream(std::string("\005") + name)) {
      if (std::string fault = PropertySetFault(*set, name); !fault.empty()) return damaged(std::move(fault));
    }
  }
  const auto word = compound->Stream("WordDocument");
  if (!word) return coverage;
  const auto table0 = compound->Stream("0Table");
  const auto table1 = compound->Stream("1Table");
  const std::vector<std::uint8_t> none;
  std::string fault = WordContentFault(*word, table0 ? *table0 : none, table1 ? *table1 : none);
  if (!fault.empty()) return damaged(std::move(fault));
  return coverage;
}

}  // namespace

StructureCoverage CheckDocumentCoverage(std::span<const std::uint8_t> file) { return Check(file, true); }

StructureVerdict CheckDocument(std::span<const std::uint8_t> file) { return Check(file, false).verdict; }

}  // namespace vellumark
