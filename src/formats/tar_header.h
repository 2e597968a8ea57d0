#pragma once

#include <cstdint>
#include <cstring>

#include "common/byte_order.h"
#include "formats/file_signatures.h"

// The 512-byte header block of a tar archive in the POSIX ustar and GNU
// formats, shared by the classifier and the tar carver. Numbers are octal
// text; GNU writes sizes of 8 GiB and more in base 256, flagged by the top
// bit of the field's first byte.
namespace vellumark {

inline constexpr std::int64_t kTarBlock = 512;

// An octal field: leading spaces, digits, then a NUL or space or the end of
// the field. -1 when it holds anything else or no digit.
inline std::int64_t TarOctal(const std::uint8_t* field, int width) {
  int i = 0;
  while (i < width && field[i] == ' ') ++i;
  std::int64_t value = 0;
  int digits = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i, ++digits) value = value * 8 + (field[i] - '0');
  if (digits == 0 || digits > 21) return -1;
  if (i < width && field[i] != 0 && field[i] != ' ') return -1;
  return value;
}

// Whether the block is a ustar or GNU header: the magic at 257 and a
// checksum (the sum of its bytes, the checksum field counted as spaces) that
// matches, summed as unsigned or, as some old writers did, signed bytes.
inline bool IsTarHeader(const std::uint8_t* block) {
  if (std::memcmp(block + 257, signature::kTar.data(), signature::kTar.size()) != 0) return false;
  const std::int64_t stored = TarOctal(block + 148, 8);
  if (stored < 0) return false;
  std::int64_t unsignedSum = 0;
  std::int64_t signedSum = 0;
  for (int i = 0; i < kTarBlock; ++i) {
    const std::uint8_t b = i >= 148 && i < 156 ? std::uint8_t{' '} : block[i];
    unsignedSum += b;
    signedSum += static_cast<std::int8_t>(b);
  }
  return stored == unsignedSum || stored == signedSum;
}

// The size field at 124: octal, or base 256 (positive values only). -1 when
// it is neither.
inline std::int64_t TarSize(const std::uint8_t* block) {
  const std::uint8_t* field = block + 124;
  if ((field[0] & 0x80) == 0) return TarOctal(field, 12);
  if (field[0] != 0x80) return -1;  // negative, or too large for any disk
  // Eleven bytes follow; a size that fits in 63 bits leaves the first three
  // zero and the top bit of the fourth clear.
  if (field[1] != 0 || field[2] != 0 || field[3] != 0 || (field[4] & 0x80) != 0) return -1;
  return static_cast<std::int64_t>(LoadBeN(field + 4, 8));
}

}  // namespace vellumark
