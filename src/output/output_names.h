#pragma once

// The names rescued files are written under: "TEST_" and the hit's offset in
// 512-byte units, so a file's name says where on the source it began.

#include <cstdint>
#include <string>

namespace vellumark {

// Seven base-36 characters of v with leading zeros; only v mod 36^7 shows.
std::string Base36Name(std::int64_t v);

// folder + "TEST_" + Base36Name(offset in 512-byte units) + extension.
std::string OutputName(const std::string& saveFolder, std::int64_t hitOffset, const std::string& extension);

// Whether a file name is one OutputName gives, with or without the number
// SaveStreamWithRetry adds when the name is taken: "TEST_00001KW-2.DOC".
// Letter case is ignored, as FAT ignores it.
bool IsOutputName(const std::string& fileName);

}  // namespace vellumark
