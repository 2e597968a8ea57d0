#include "formats/document_check.h"

#include <string>
#include <vector>

#include "formats/compound/compound_file.h"
#include "formats/compound/structure_check.h"
#include "formats/word/word_content_check.h"

namespace vellumark {

StructureVerdict CheckDocument(std::span<const std::uint8_t> file) {
  StructureVerdict verdict = CheckStructure(file);
  if (verdict.verdict != Verdict::Whole) return verdict;
  // The structure check is lenient where writers differ; a file it passes
  // that the reader of streams still refuses cannot have its content
  // checked, nor be read by the report, so it is not called whole.
  const auto compound = CompoundFile::Open(file);
  if (!compound) return {Verdict::Damaged, "compound file: its streams cannot be read"};
  const auto word = compound->Stream("WordDocument");
  if (!word) return verdict;
  const auto table0 = compound->Stream("0Table");
  const auto table1 = compound->Stream("1Table");
  const std::vector<std::uint8_t> none;
  std::string fault = WordContentFault(*word, table0 ? *table0 : none, table1 ? *table1 : none);
  if (!fault.empty()) return {Verdict::Damaged, std::move(fault)};
  return verdict;
}

}  // namespace vellumark
