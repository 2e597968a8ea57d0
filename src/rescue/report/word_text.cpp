#include "rescue/report/word_text.h"

namespace vellumark {

std::string WordText(std::span<const std::uint8_t>, std::span<const std::uint8_t>, std::span<const std::uint8_t>,
                     std::size_t) {
  return {};
}

}  // namespace vellumark
