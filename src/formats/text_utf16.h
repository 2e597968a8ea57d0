#pragma once

#include <cstddef>
#include <string>

#include "common/byte_view.h"

namespace vellumark {

// count UTF-16LE code units at at as UTF-8, stopping at a NUL (and, with
// stopAtFfff, at the 0xFFFF padding FAT's long names end with). Unpaired
// surrogates become U+FFFD; units past the view are not read.
std::string Utf16LeToUtf8(ByteView bytes, std::size_t at, std::size_t count, bool stopAtFfff = false);

}  // namespace vellumark
