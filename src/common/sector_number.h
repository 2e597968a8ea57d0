#pragma once

#include <cstdint>
#include <string_view>

namespace vellumark {

// A sector number typed by the user: decimal, optionally signed, 64-bit,
// blanks around it ignored.
// Anything else (empty, letters, overflow) reads as -1, which every range
// check refuses.
std::int64_t ParseSectorNumber(std::string_view text);

}  // namespace vellumark
