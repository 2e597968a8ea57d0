#include "formats/text_utf16.h"

namespace vellumark {
namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string Utf16LeToUtf8(ByteView bytes, std::size_t at, std::size_t count, bool stopAtFfff) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    const auto unit = bytes.Le16(at + 2 * i);
    if (!unit || *unit == 0 || (stopAtFfff && *unit == 0xFFFF)) break;
    char32_t c = *unit;
    if (c >= 0xD800 && c < 0xDC00) {
      const auto low = i + 1 < count ? bytes.Le16(at + 2 * (i + 1)) : std::nullopt;
      if (low && *low >= 0xDC00 && *low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (*low - 0xDC00);
        ++i;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xDC00 && c < 0xE000) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

}  // namespace vellumark
