#pragma once

#include <cstdint>
#include <string>

namespace vellumark {

// How a rescued document's own structure held up when it was read back.
// Partial is the text of a document that could not be rebuilt whole, saved
// from the parts of it that checked.
enum class Verdict : std::uint8_t { Whole, Damaged, Unchecked, Partial };


struct StructureVerdict {
  Verdict verdict = Verdict::Unchecked;
  std::string fault;  // the first fault found, naming the stream, when damaged
};

}  // namespace vellumark
