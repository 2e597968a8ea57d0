#include "formats/checksum/crc32.h"

#include <libdeflate.h>

namespace vellumark {

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* bytes, std::size_t size) {
  return size == 0 ? crc : libdeflate_crc32(crc, bytes, size);
}

}  // namespace vellumark
