#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "texts/message_table.h"

namespace vellumark {
namespace {

constexpr int kSimplifiedCodePage = 936;
constexpr int kTraditionalCodePage = 950;
constexpr int kOtherCodePage = 437;

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

}  // namespace

Language LanguageForCodePage(int codePage) {
  if (codePage == kSimplifiedCodePage) return Language::SimplifiedChinese;
  if (codePage == kTraditionalCodePage) return Language::TraditionalChinese;
  return Language::English;
}

int CodePageForLocale(std::string_view locale) {
  // Drop the encoding and modifier: "zh_TW.UTF-8@euro" -> "zh_tw".
  std::string name = Lower(locale.substr(0, locale.find_first_of(".@")));
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = name.find_first_of("_-", start);
    parts.push_back(name.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (parts.empty() || parts[0] != "zh") return kOtherCodePage;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part == "hans" || part == "cn" || part == "sg") return kSimplifiedCodePage;
    if (part == "hant" || part == "tw" || part == "hk" || part == "mo") return kTraditionalCodePage;
  }
  return kOtherCodePage;
}

std::string SystemLocaleName() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return "C";
}

void ChooseLanguageFromSystem() {
  ChooseLanguage(LanguageForCodePage(CodePageForLocale(SystemLocaleName())));
}

}  // namespace vellumark
