#pragma once

#include <cstdint>
#include <string>

namespace vellumark {

// How a rescued document's own structure held up when it was read back.
enum class Verdict : std::uint8_t { Whole, Damaged, Unchecked };

// "whole", "damaged" or "unchecked": the words the report uses.
const char* VerdictName(Verdict verdict);

struct StructureVerdict {
  Verdict verdict = Verdict::Unchecked;
  std::string fault;  // the first fault found, naming the stream, when damaged
};

}  // namespace vellumark
