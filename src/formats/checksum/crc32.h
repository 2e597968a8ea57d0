#pragma once

#include <cstddef>
#include <cstdint>

namespace vellumark {

// The CRC-32 of ZIP, gzip and GPT (the polynomial 0xEDB88320, reflected,
// as zlib's crc32 computes it): crc is what earlier bytes gave, 0 before
// the first. Every member of every office document the carving meets is
// checked by it, and the read-back checks them again; libdeflate's
// carry-less multiplication runs about three times as fast as zlib's
// tables, with no limit on the length taken at once.
std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size);

}  // namespace vellumark
