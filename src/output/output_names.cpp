#include "output/output_names.h"

#include <regex>

namespace vellumark {

std::string Base36Name(std::int64_t v) {
  static constexpr char kAlphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  // Offsets are never negative; the unsigned view keeps a stray one in range.
  auto rest = static_cast<std::uint64_t>(v);
  std::string name(7, '0');
  for (int i = 6; i >= 0; --i) {
    name[static_cast<std::size_t>(i)] = kAlphabet[rest % 36];
    rest /= 36;
  }
  return name;
}

std::string OutputName(const std::string& saveFolder, std::int64_t hitOffset, const std::string& extension) {
  return saveFolder + "TEST_" + Base36Name(hitOffset >> 9) + extension;
}

bool IsOutputName(const std::string& fileName) {
  static const std::regex kPattern("TEST_[0-9A-Z]{7}(-[0-9]+)?\\.(DOCX?|XLSX?|PPTX?|ODT|TXT)", std::regex::icase);
  return std::regex_match(fileName, kPattern);
}

}  // namespace vellumark
