#pragma once

#include <cstddef>
#include <cstdint>

#include "rescue/file_type_code.h"

namespace vellumark {

inline constexpr std::size_t kClassifiedBytes = 512;

// Decides from one sector's bytes whether a file of a known type begins there
// (or the sector looks like a FAT directory). Looks at no more than the first
// 512 bytes; a shorter buffer reads as if padded with zeros. No allocation, no
// state: it runs once for every sector of a disk.
FileTypeCode ClassifySector(const std::uint8_t* sector, std::size_t size);

// Whether a byte may stand in a short (8.3) directory-entry name.
bool IsNameChar(std::uint8_t byte);

// The FAT directory test on its own: 16 entries of 32 bytes.
bool LooksLikeFatDirectory(const std::uint8_t* sector);

}  // namespace vellumark
