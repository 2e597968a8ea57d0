#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellumark {

// A package's XML parts: what they inflate to must read as text.
inline bool IsTextPart(const std::string& name) { return name.ends_with(".xml") || name.ends_with(".rels"); }

// Whether inflated bytes can be part of an XML text: no control characters
// but tab, line feed and carriage return. Foreign bytes inside a deflate
// stream rarely fail the stream at once, but they soon inflate to binary.
inline bool LooksLikeText(const std::uint8_t* bytes, std::size_t size) {
  // Without a branch a byte, so that the compiler tests many at once: every
  // step's output is text until the step that fails.
  unsigned control = 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = bytes[i];
    control |= static_cast<unsigned>(b < 0x20) & static_cast<unsigned>(b != '\t') & static_cast<unsigned>(b != '\n') &
               static_cast<unsigned>(b != '\r');
  }
  return control == 0;
}

}  // namespace vellumark
