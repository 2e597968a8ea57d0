#include "viewer/sector_dump.h"

#include <algorithm>

namespace vellumark {

const char* const kSectorDumpHeader =
    "     0 1  2 3  4 5  6 7  8 9  A B  C D  E F  0 1  2 3  4 5  6 7  8 9  A B  C D  E F  "
    "0123456789ABCDEF0123456789ABCDEF";

namespace {

constexpr std::size_t kBytesPerLine = 32;
constexpr char kHex[] = "0123456789ABCDEF";

void AppendHex(std::string& line, std::uint8_t byte) {
  line += kHex[byte >> 4];
  line += kHex[byte & 0x0F];
}

std::string DumpLine(const std::uint8_t* data, std::size_t offset, std::size_t count) {
  std::string line;
  line.reserve(128);
  // The offset in at least three hex digits.
  std::string where;
  for (std::size_t v = offset; v != 0; v >>= 4) where.insert(where.begin(), kHex[v & 0x0F]);
  if (where.size() < 3) where.insert(0, 3 - where.size(), '0');
  line += where;
  line += ": ";
  for (std::size_t i = 0; i < kBytesPerLine; i += 2) {
    for (std::size_t j = i; j < i + 2; ++j) {
      if (j < count) {
        AppendHex(line, data[offset + j]);
      } else {
        line += "  ";
      }
    }
    line += ' ';
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t byte = data[offset + i];
    line += byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
  }
  return line;
}

}  // namespace

std::vector<std::string> SectorDump(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> lines;
  lines.reserve(size / kBytesPerLine + 2);
  lines.emplace_back(kSectorDumpHeader);
  for (std::size_t offset = 0; offset < size; offset += kBytesPerLine) {
    lines.push_back(DumpLine(data, offset, std::min(kBytesPerLine, size - offset)));
  }
  return lines;
}

}  // namespace vellumark
