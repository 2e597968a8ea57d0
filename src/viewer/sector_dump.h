#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vellumark {

// The header line above a dump: byte labels over the hex pairs and the
// characters (117 characters).
extern const char* const kSectorDumpHeader;

// A sector as text: the header, then one line per 32 bytes with the line's
// offset in hex, the bytes as hex in stored order (grouped in pairs), and the
// bytes as characters ("." outside printable ASCII).
std::vector<std::string> SectorDump(const std::uint8_t* data, std::size_t size);

}  // namespace vellumark
